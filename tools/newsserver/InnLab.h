#pragma once
// INN 2.7 on loopback for tests that want a real server: scripts/inn-lab.sh installs it
// when missing, runs it from a scratch directory on free ports (plain, login-required,
// implicit TLS and a feed port) and zevrin-innfeed fills it with the test server's
// generated content. INN is installed and run as root: without root, or without the
// package, the tests are skipped, except in CI, where they must run.
//
// The test program is built with ZEV_INN_LAB_SCRIPT and ZEV_INN_FEEDER, the paths of the
// script and of the feeder.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace zev::testserver {

struct FInnLab {
  bool ready = false;  // started and filled
  bool started = false;
  std::string skipReason;
  std::string dir;
  uint16_t port = 0, authPort = 0, tlsPort = 0, feedPort = 0;
  std::string caPem, certPem;  // the lab's CA and INN's certificate
};

inline uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  close(fd);
  return ntohs(addr.sin_port);
}

inline int RunShell(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::string InnLabScript() { return std::string("bash ") + ZEV_INN_LAB_SCRIPT; }

// Starts INN in /tmp/zevrin-inn-NAME-PID and feeds it with zevrin-innfeed's FEEDARGS
// (e.g. "--seed 1 --generate standard"). Sets lab.ready, or lab.skipReason when INN
// cannot run here; a start or fill that fails is a test failure.
inline void StartInnLab(FInnLab& lab, const std::string& name, const std::string& feedArgs) {
  const bool ci = std::getenv("CI") != nullptr;
  if (geteuid() != 0) {
    if (ci) ADD_FAILURE() << "the INN tests need root in CI";
    lab.skipReason = "INN tests need root (INN is installed and run as root)";
    return;
  }
  const std::string script = InnLabScript();
  if (RunShell(script + " install") != 0) {
    if (ci) ADD_FAILURE() << "inn2 could not be installed in CI";
    lab.skipReason = "inn2 could not be installed";
    return;
  }
  lab.dir = "/tmp/zevrin-inn-" + name + "-" + std::to_string(getpid());
  lab.port = FreeLoopbackPort();
  lab.authPort = FreeLoopbackPort();
  lab.tlsPort = FreeLoopbackPort();
  lab.feedPort = FreeLoopbackPort();
  std::ostringstream start;
  start << script << " start --dir " << lab.dir << " --port " << lab.port << " --auth-port " << lab.authPort
        << " --tls-port " << lab.tlsPort << " --feed-port " << lab.feedPort;
  ASSERT_EQ(RunShell(start.str()), 0) << "INN did not start; logs in " << lab.dir << "/log";
  lab.started = true;
  ASSERT_EQ(RunShell(script + " fill --dir " + lab.dir + " --feeder " + ZEV_INN_FEEDER + " -- " + feedArgs), 0);
  auto read = [](const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  lab.caPem = read(lab.dir + "/etc/ca.pem");
  lab.certPem = read(lab.dir + "/etc/server.pem");
  lab.ready = true;
}

// Stops INN and removes its directory, when it was started.
inline void StopInnLab(FInnLab& lab) {
  if (lab.started) RunShell(InnLabScript() + " stop --purge --dir " + lab.dir);
  lab.started = lab.ready = false;
}

// The lab of a test program whose tests all use INN: started once before them.
inline FInnLab& InnLab() {
  static FInnLab lab;
  return lab;
}

class TInnLabEnvironment : public ::testing::Environment {
 public:
  TInnLabEnvironment(std::string name, std::string feedArgs) : name_(std::move(name)), feedArgs_(std::move(feedArgs)) {}
  void SetUp() override { StartInnLab(InnLab(), name_, feedArgs_); }
  void TearDown() override { StopInnLab(InnLab()); }

 private:
  std::string name_, feedArgs_;
};

}  // namespace zev::testserver
