// Generated content: what the manifest promises is what the server serves, decoded by
// small independent decoders written here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "ArticleGenerator.h"
#include "Encoders.h"
#include "NntpCommand.h"
#include "SpoolLoader.h"
#include "Wildmat.h"

namespace zev::testserver {
namespace {

// Undoes the wire form of an article body: CRLF to LF, leading dot-stuffing removed.
std::string Unwire(std::string_view wire) {
  std::string out;
  size_t pos = 0;
  while (pos < wire.size()) {
    size_t end = wire.find("\r\n", pos);
    std::string_view line = wire.substr(pos, end - pos);
    if (!line.empty() && line[0] == '.') line.remove_prefix(1);
    out.append(line).push_back('\n');
    pos = end + 2;
  }
  return out;
}

std::string Field(const std::string& line, const std::string& key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return {};
  size_t start = at + key.size() + 2;
  return line.substr(start, line.find(' ', start) - start);
}

struct FYencDecoded {
  std::string data;
  std::string begin, end, pcrc32, yendSize;
};

FYencDecoded DecodeYenc(const std::string& body) {
  FYencDecoded out;
  std::istringstream in(body);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("=ybegin")) continue;
    if (line.starts_with("=ypart")) {
      out.begin = Field(line, "begin");
      out.end = Field(line, "end");
      continue;
    }
    if (line.starts_with("=yend")) {
      out.pcrc32 = Field(line + " ", "pcrc32");
      if (out.pcrc32.empty()) out.pcrc32 = Field(line + " ", "crc32");
      out.yendSize = Field(line, "size");
      continue;
    }
    for (size_t i = 0; i < line.size(); ++i) {
      auto c = static_cast<uint8_t>(line[i]);
      if (c == '=') c = static_cast<uint8_t>(static_cast<uint8_t>(line[++i]) - 64);
      out.data.push_back(static_cast<char>(static_cast<uint8_t>(c - 42)));
    }
  }
  return out;
}

std::string DecodeUu(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("begin ") || line == "end" || line == "`" || line.empty()) continue;
    const int n = (line[0] - 32) & 63;
    std::string bytes;
    for (size_t i = 1; i + 3 < line.size() + 0 && bytes.size() < static_cast<size_t>(n); i += 4) {
      int v[4];
      for (int k = 0; k < 4; ++k) v[k] = (line[i + k] - 32) & 63;
      bytes.push_back(static_cast<char>((v[0] << 2) | (v[1] >> 4)));
      bytes.push_back(static_cast<char>((v[1] << 4) | (v[2] >> 2)));
      bytes.push_back(static_cast<char>((v[2] << 6) | v[3]));
    }
    out += bytes.substr(0, static_cast<size_t>(n));
  }
  return out;
}

std::string DecodeBase64Block(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    size_t v = alphabet.find(c);
    if (v == std::string::npos) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

uint32_t Crc(const std::string& data) { return Crc32(data.data(), data.size()); }

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", v);
  return text;
}

class TGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TArticleGenerator generator(store_, 7, true);
    generator.PostStandardSet({});
    manifest_ = generator.Manifest();
  }
  std::string BodyOf(const std::string& messageId) {
    auto lock = store_.ReadLock();
    TArticlePtr article = store_.FindMessageId(messageId);
    return article ? Unwire(article->Body()) : std::string("<missing>");
  }
  TArticleStore store_;
  FManifest manifest_;
};

TEST_F(TGeneratorTest, EveryIntactFileDecodesToItsBytes) {
  size_t intact = 0;
  for (const FManifestFile& file : manifest_.files) {
    if (!file.broken.empty()) continue;
    ++intact;
    std::string decoded;
    for (const FManifestPart& part : file.parts) {
      const std::string body = BodyOf(part.messageId);
      if (file.encoding.starts_with("yenc")) {
        FYencDecoded y = DecodeYenc(body);
        EXPECT_EQ(y.pcrc32, Hex(part.crc32)) << file.name << " part " << part.number;
        EXPECT_EQ(Crc(y.data), part.crc32) << file.name << " part " << part.number;
        if (file.encoding == "yenc") {
          EXPECT_EQ(y.begin, std::to_string(part.begin)) << file.name;
        }
        decoded += y.data;
      } else if (file.encoding == "uuencode") {
        decoded += body;
      } else {
        size_t start = body.find("Content-Transfer-Encoding: base64");
        decoded = DecodeBase64Block(body.substr(body.find("\n\n", start) + 2, body.rfind("\n--") - body.find("\n\n", start) - 2));
      }
    }
    if (file.encoding == "uuencode") decoded = DecodeUu(decoded);
    EXPECT_EQ(decoded.size(), file.size) << file.name;
    EXPECT_EQ(decoded, file.data) << file.name;
    EXPECT_EQ(Crc(decoded), file.crc32) << file.name;
  }
  EXPECT_GE(intact, 15u);
}

TEST_F(TGeneratorTest, BrokenFilesFailTheWayTheManifestSays) {
  const FManifestFile* missing = manifest_.FindFile("missing.part.bin");
  const FManifestFile* badCrc = manifest_.FindFile("badcrc.bin");
  const FManifestFile* truncated = manifest_.FindFile("truncated.bin");
  ASSERT_TRUE(missing && badCrc && truncated);
  EXPECT_FALSE(missing->parts[1].posted);
  EXPECT_EQ(BodyOf(missing->parts[1].messageId), "<missing>");
  const FYencDecoded bad = DecodeYenc(BodyOf(badCrc->parts[2].messageId));
  EXPECT_TRUE(badCrc->parts[2].badCrc);
  EXPECT_EQ(Crc(bad.data), badCrc->parts[2].crc32) << "the data is intact";
  EXPECT_NE(bad.pcrc32, Hex(badCrc->parts[2].crc32)) << "the header lies";
  const FYencDecoded cut = DecodeYenc(BodyOf(truncated->parts[0].messageId));
  EXPECT_EQ(cut.data.size() * 2, std::stoull(cut.yendSize));
}

TEST_F(TGeneratorTest, SameSeedSameContentOtherSeedOther) {
  TArticleStore again, other;
  TArticleGenerator a(again, 7), b(other, 8);
  a.PostStandardSet({});
  b.PostStandardSet({});
  EXPECT_EQ(a.Manifest().ToJson(), manifest_.ToJson());
  EXPECT_NE(b.Manifest().ToJson(), manifest_.ToJson());
  const std::string id = manifest_.files[0].parts[0].messageId;
  auto lock = again.ReadLock();
  EXPECT_EQ(Unwire(again.FindMessageId(id)->Body()), BodyOf(id));
}

TEST_F(TGeneratorTest, SubjectsFollowPostingToolStyles) {
  EXPECT_TRUE(manifest_.files[0].parts[0].subject.starts_with("[1/")) << manifest_.files[0].parts[0].subject;
  const FManifestFile* photo = manifest_.FindFile("photo.jpg");
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->parts[0].subject, "\"photo.jpg\" yEnc (1/4)");
  EXPECT_EQ(manifest_.FindFile("readme.nfo")->parts[0].subject, "\"readme.nfo\" yEnc (1/1)");
  EXPECT_EQ(manifest_.FindFile("archive01.zip")->parts[0].subject.substr(0, 18), "archive01.zip (1/4");
  TArticleStore store;
  TArticleGenerator generator(store, 1);
  FFilePlan plan;
  plan.groups = {"g"};
  plan.name = "holiday.part1.rar";
  plan.subjectPrefix = "[1/8] - ";
  plan.size = 50 * 1000;
  plan.partSize = 1000;
  EXPECT_EQ(generator.PostYenc(plan).parts[0].subject, "[1/8] - \"holiday.part1.rar\" yEnc (01/50)");
}

TEST(EncoderTest, YencEscapesCriticalAndEdgeCharacters) {
  struct FCase {
    std::vector<uint8_t> data;
    int lineLength;
    bool escapeDot;
    std::string expected;
  };
  // Raw byte b encodes as b + 42; critical results are "=" and (b + 42 + 64).
  const std::vector<FCase> cases = {
      {{214, 224, 227, 19}, 128, true, "=@=J=M=}\n"},         // NUL, LF, CR, '=' after +42
      {{246, 1}, 128, true, "=`+\n"},                        // space at line start
      {{1, 246}, 128, true, "+=`\n"},                        // space at line end
      {{1, 246, 1}, 128, true, "+ +\n"},                     // space inside
      {{223, 1}, 128, true, "=I+\n"},                        // tab at line start
      {{4, 1}, 128, true, "=n+\n"},                          // '.' at line start, escaped
      {{4, 1}, 128, false, ".+\n"},                          // ... or left to dot-stuffing
      {{1, 4, 1, 4}, 2, true, "+.\n+.\n"},                   // '.' not at a line start
      {{1, 1, 1}, 2, true, "++\n+\n"},
  };
  for (const FCase& c : cases) {
    FYencLineOptions options;
    options.lineLength = c.lineLength;
    options.escapeLeadingDot = c.escapeDot;
    EXPECT_EQ(YencEncodeLines(c.data.data(), c.data.size(), options), c.expected);
  }
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

TEST(WildmatTest, PatternsAndLists) {
  struct FCase {
    const char* pattern;
    const char* text;
    bool match;
  };
  const std::vector<FCase> cases = {
      {"*", "", true},          {"a*c", "abbbc", true},      {"a*c", "abbb", false},
      {"a?c", "abc", true},     {"a?c", "ac", false},        {"[a-c]x", "bx", true},
      {"[^a-c]x", "bx", false}, {"[!a-c]x", "dx", true},     {"\\*", "*", true},
      {"\\*", "a", false},      {"alt.*,!alt.bin*", "alt.text", true},
      {"alt.*,!alt.bin*", "alt.binaries", false},            {"*part1*", "x.part1.rar", true},
      {"[", "[", true},         {"**********************************b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const FCase& c : cases) EXPECT_EQ(WildmatMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
}

TEST(CommandTest, RangesNumbersAndDates) {
  FArticleRange r;
  ASSERT_TRUE(ParseArticleRange("5-", r));
  EXPECT_EQ(r.high, kMaxArticleNumber);
  ASSERT_TRUE(ParseArticleRange("7", r));
  EXPECT_EQ(r.low, 7u);
  EXPECT_EQ(r.high, 7u);
  for (const char* bad : {"", "-", "-5", "5--6", "a-b", "9223372036854775808", "1-9223372036854775808", "+1"})
    EXPECT_FALSE(ParseArticleRange(bad, r)) << bad;
  int64_t t = 0;
  ASSERT_TRUE(ParseNewgroupsTime("20240229", "235959", 2026, t));
  EXPECT_EQ(t, 1709251199);
  ASSERT_TRUE(ParseNewgroupsTime("990101", "000000", 2026, t));
  EXPECT_EQ(t, UtcSeconds(1999, 1, 1, 0, 0, 0)) << "a two-digit year is never in the future";
  ASSERT_TRUE(ParseNewgroupsTime("260101", "000000", 2026, t));
  EXPECT_EQ(t, UtcSeconds(2026, 1, 1, 0, 0, 0));
  for (auto [date, time] : std::vector<std::pair<const char*, const char*>>{
           {"2024", "000000"}, {"20241301", "000000"}, {"20240100", "000000"}, {"20240101", "240000"}, {"2024010a", "000000"}})
    EXPECT_FALSE(ParseNewgroupsTime(date, time, 2026, t)) << date << " " << time;
}

TEST(SpoolTest, LoadsGroupsKeepsNumbersAndSkipsJunk) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zev-spool-" + std::to_string(getpid()));
  fs::create_directories(dir / "alt.spool");
  fs::create_directories(dir / ".hidden");
  auto write = [&](const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; };
  write(dir / "alt.spool" / "42", "Subject: numbered\r\nMessage-ID: <n42@test>\r\n\r\n.dot line\r\n");
  write(dir / "alt.spool" / "extra.txt", "Subject: folded\n  continued\n\nbody\n");
  write(dir / "alt.spool" / "junk", "no header block here at all");
  TArticleStore store;
  FSpoolReport report = LoadSpool(dir.string(), store);
  fs::remove_all(dir);
  EXPECT_EQ(report.articles, 2u);
  ASSERT_EQ(report.skipped.size(), 2u);
  auto lock = store.ReadLock();
  const TNewsGroup* group = store.FindGroup("alt.spool");
  ASSERT_TRUE(group);
  EXPECT_EQ(group->Low(), 42u);
  EXPECT_EQ(group->High(), 43u);
  EXPECT_EQ(group->Article(42)->Body(), "..dot line\r\n");
  EXPECT_EQ(*group->Article(43)->Header("Subject"), "folded continued");
  EXPECT_EQ(group->Article(43)->messageId, "<43.alt.spool@spool.zevrin-newsd.test>");
  EXPECT_EQ(store.FindGroup(".hidden"), nullptr);
}

}  // namespace
}  // namespace zev::testserver
