// The TLS settings of a news server: two keys of its section, absent for a plain server,
// so that settings files from before TLS load and save unchanged.
#include <gtest/gtest.h>

#include "../db/ModelTestUtil.h"
#include "core/ZevIniFile.h"
#include "db/ServerTree.h"

using namespace zev;
using zev::test::MakeDateTime;

namespace {

const std::string kPlain =
    "[Server:0]\nType=00\nParent=-1\nName=Servers\nFlags=02A80000\nMaxConn=100\nRetry=10\nTimeOut=120\n"
    "DailyTotal=0\nDailyBodies=0\nDailyLastReset=1483690639\nDailyReset=2\nMonthlyTotal=0\nMonthlyBodies=0\n"
    "MonthlyLastReset=1483690639\nMonthlyReset=12\nServerMode=Normal\n\n"
    "[Server:1]\nType=02\nParent=0\nName=Plain\nHost=news.example.net\nPort=119\nFlags=02A80000\n"
    "DailyTotal=0\nDailyBodies=0\nDailyLastReset=1483690639\nDailyReset=2\nMonthlyTotal=0\nMonthlyBodies=0\n"
    "MonthlyLastReset=1483690639\nMonthlyReset=12\nServerMode=Normal\n\n";

std::string Saved(TServerTree& tree, TZevIniFile& ini) {
  tree.WriteServers();
  return ini.Text();
}

}  // namespace

TEST(ServerTlsSettings, OlderFilesLoadAndSaveUnchanged) {
  TZevIniFile ini("");
  ini.SetText(kPlain);
  TServerTree tree(ini);
  tree.LoadServers(MakeDateTime(2024, 3, 15, 10, 20, 30));
  const TServer& server = *tree.Roots()[0]->Children()[0];
  EXPECT_FALSE(server.UseTls.load());
  EXPECT_EQ(server.TlsFingerprint(), "");
  EXPECT_EQ(Saved(tree, ini), kPlain);
}

TEST(ServerTlsSettings, TlsAndPinnedFingerprintRoundTrip) {
  const std::string pin = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  TZevIniFile ini("");
  ini.SetText(kPlain);
  TServerTree tree(ini);
  tree.LoadServers(MakeDateTime(2024, 3, 15, 10, 20, 30));
  TServer& server = *tree.Roots()[0]->Children()[0];
  server.UseTls = true;
  server.Port = kDefaultTlsPort;
  server.SetTlsFingerprint(pin);
  const std::string saved = Saved(tree, ini);
  EXPECT_NE(saved.find("Port=563\n"), std::string::npos);
  EXPECT_NE(saved.find("TLS=1\n"), std::string::npos);
  EXPECT_NE(saved.find("TLSFingerprint=" + pin + "\n"), std::string::npos);

  TZevIniFile again("");
  again.SetText(saved);
  TServerTree reloaded(again);
  reloaded.LoadServers(MakeDateTime(2024, 3, 15, 10, 20, 30));
  const TServer& copy = *reloaded.Roots()[0]->Children()[0];
  EXPECT_TRUE(copy.UseTls.load());
  EXPECT_EQ(copy.TlsFingerprint(), pin);

  // Back to plain: the keys go away again.
  server.UseTls = false;
  server.Port = 119;
  server.SetTlsFingerprint("");
  EXPECT_EQ(Saved(tree, ini), kPlain);
}
