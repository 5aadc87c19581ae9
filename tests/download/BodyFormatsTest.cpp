// Format recognition and in-place decoding of article bodies: one table of small fixtures
// for every format, its damaged forms and hostile names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Crc32.h"
#include "DecoderTestSupport.h"
#include "download/Base64.h"
#include "download/BodyFormats.h"
#include "download/DotStuffing.h"
#include "download/MimeParts.h"
#include "download/Uudecode.h"

using namespace zev;
using namespace zev::test;

namespace {

struct FExpectPiece {
  TPieceKind kind;
  std::string name;
  std::string data;
  uint32_t part = 0;
};

struct FCase {
  std::string label;
  std::string body;
  FBodyFacts facts;
  TBodyFormat format;
  bool failed = false;
  std::vector<FExpectPiece> pieces = {};
  bool wholeFileInPart = false;
  size_t warnings = 0;
};

FBodyFacts Single(const std::string& name) {
  FBodyFacts f;
  f.fileName = name;
  f.subject = name;
  f.server = "news.test";
  return f;
}

FBodyFacts Part(const std::string& name, uint32_t part, uint32_t total) {
  FBodyFacts f = Single(name);
  f.multiPart = true;
  f.part = part;
  f.total = total;
  return f;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The value after `key` on the first line containing it, e.g. the CRC after "pcrc32=".
std::string ValueOf(const std::string& text, const std::string& key) {
  const size_t at = text.find(key) + key.size();
  return text.substr(at, text.find_first_of(" \r\n", at) - at);
}

std::vector<FCase> Cases() {
  const std::string d = RandomBytes(3000, 1);
  const std::string file = RandomBytes(9000, 2);
  std::vector<FCase> cases;

  const std::string single = YencBody("a.bin", d, 0, 0, 1, d);
  cases.push_back({"yEnc whole file", single, Single("a.bin"), TBodyFormat::Yenc, false,
                   {{TPieceKind::WholeFile, "a.bin", d}}});
  const std::string part2 = YencPart("f.rar", file, 2, 3);
  cases.push_back({"yEnc part", part2, Part("f.rar", 2, 3), TBodyFormat::Yenc, false,
                   {{TPieceKind::Part, "f.rar", file.substr(3000, 3000), 2}}});
  cases.push_back({"yEnc part, pcrc32 wrong", Replace(part2, "pcrc32=" + ValueOf(part2, "pcrc32="), "pcrc32=00000000"),
                   Part("f.rar", 2, 3), TBodyFormat::Yenc, true});
  cases.push_back({"yEnc whole, crc32 wrong", Replace(single, "crc32=" + ValueOf(single, "crc32="), "crc32=12345678"),
                   Single("a.bin"), TBodyFormat::Yenc, true});
  cases.push_back({"yEnc cut off before =yend", single.substr(0, single.find("=yend")), Single("a.bin"),
                   TBodyFormat::Yenc, true});
  cases.push_back({"yEnc =ypart end wrong", Replace(part2, " end=6000", " end=6001"), Part("f.rar", 2, 3),
                   TBodyFormat::Yenc, true});
  cases.push_back({"yEnc =yend size from a buggy encoder",
                   Replace(single.substr(0, single.find(" crc32=")) + "\r\n", "=yend size=3000", "=yend size=3005"),
                   Single("a.bin"), TBodyFormat::Yenc, false, {{TPieceKind::WholeFile, "a.bin", d}}, false, 1});
  cases.push_back({"yEnc part that holds the whole file", YencBody("a.bin", d, 1, 1, 1, d), Part("a.bin", 1, 2),
                   TBodyFormat::Yenc, false, {{TPieceKind::WholeFile, "a.bin", d}}, true, 1});
  {
    FBodyFacts f = Single("photo");
    f.subject = "[1/1] - \"my holiday photo.jpg\" yEnc";
    cases.push_back({"yEnc spaced keyword takes the subject's spelling",
                     Replace(YencBody("myholidayphoto.jpg", d, 0, 0, 1, d), "name=", "n a m e="), f, TBodyFormat::Yenc,
                     false, {{TPieceKind::WholeFile, "my holiday photo.jpg", d}}});
  }
  {
    const std::string dots(500, '\x04');  // encodes to "." at every line start
    cases.push_back({"yEnc lines starting with dots", YencBody("dots.bin", dots, 0, 0, 1, dots), Single("dots.bin"),
                     TBodyFormat::Yenc, false, {{TPieceKind::WholeFile, "dots.bin", dots}}});
  }
  for (const char* hostile : {"../../x.bin", "..\\..\\x.bin", "/abs/x.bin", "sub/dir/x.bin"})
    cases.push_back({std::string("yEnc hostile name ") + hostile, YencBody(hostile, d, 0, 0, 1, d), Single("x.bin"),
                     TBodyFormat::Yenc, false, {{TPieceKind::WholeFile, "x.bin", d}}});

  const std::string uuData = RandomBytes(45 + 14, 3);  // the second line starts with "." (14 bytes)
  cases.push_back({"uuencode whole file, a line dot-stuffed", Received("begin 644 u.bin\n" + UuLines(uuData) + "`\nend\n"),
                   Single("x"), TBodyFormat::Uuencode, false, {{TPieceKind::WholeFile, "u.bin", uuData}}});
  const std::string big = RandomBytes(45 * 6, 4);
  cases.push_back({"uuencode first part", Received("begin 644 big.bin\n" + UuLines(big.substr(0, 90))),
                   Part("big.bin", 1, 3), TBodyFormat::Uuencode, false,
                   {{TPieceKind::Part, "big.bin", big.substr(0, 90), 1}}});
  cases.push_back({"uuencode middle part without header", Received("Some text\n" + UuLines(big.substr(90, 90))),
                   Part("big.bin", 2, 3), TBodyFormat::Uuencode, false,
                   {{TPieceKind::Part, "big.bin", big.substr(90, 90), 2}}});
  cases.push_back({"uuencode middle part fetched with its article headers",
                   Received("Path: news.test!not-for-mail\nFrom: p <p@x.test>\nSubject: big.bin (2/3)\n"
                            "Message-ID: <f5219ec8.d8ff3863c119-7a1a7d37@zevrin-newsd.test>\n"
                            "X-Folded: a\n b\n\n" +
                            UuLines(big.substr(90, 90))),
                   Part("big.bin", 2, 3), TBodyFormat::Uuencode, false,
                   {{TPieceKind::Part, "big.bin", big.substr(90, 90), 2}}});
  cases.push_back({"uuencode short last part without header", Received(UuLines(big.substr(0, 20)) + "`\nend\n"),
                   Part("big.bin", 3, 3), TBodyFormat::Uuencode, false,
                   {{TPieceKind::Part, "big.bin", big.substr(0, 20), 3}}});
  cases.push_back({"uuencode cut off in a single article", Received("begin 644 u.bin\n" + UuLines(uuData)),
                   Single("u.bin"), TBodyFormat::Uuencode, true});
  cases.push_back({"uuencode two files, a false header first",
                   Received("begin the meeting at noon\nbegin 644 one.bin\n" + UuLines(d.substr(0, 100)) +
                            "`\nend\nbetween\nbegin 600 two.bin\n" + UuLines(d.substr(100, 50)) + "`\nend\n"),
                   Single("x"), TBodyFormat::Uuencode, false,
                   {{TPieceKind::WholeFile, "one.bin", d.substr(0, 100)},
                    {TPieceKind::WholeFile, "two.bin", d.substr(100, 50)}}});

  const std::string mime = "This is a multi-part message in MIME format.\n\n--=_b1\nContent-Type: text/plain\n\nHi\n\n"
                           "--=_b1\nContent-Type: application/pdf; name=\"scan.pdf\"\nContent-Transfer-Encoding: base64\n"
                           "Content-Disposition: attachment; filename=\"scan.pdf\"\n\n" +
                           Base64Lines(d.substr(0, 999)) + "\n--=_b1--\n";
  cases.push_back({"MIME base64, boundary not decoded", Received(mime), Single("subject text"), TBodyFormat::Base64,
                   false, {{TPieceKind::WholeFile, "scan.pdf", d.substr(0, 999)}}});
  cases.push_back({"base64 later part without header", Received(Base64Lines(d.substr(0, 999)) + "\n--=_b1--\n"),
                   Part("scan.pdf", 2, 2), TBodyFormat::Base64, false,
                   {{TPieceKind::Part, "scan.pdf", d.substr(0, 999), 2}}});
  const std::string jpeg = "\xFF\xD8\xFF\xE0" + d.substr(0, 200);
  cases.push_back({"bare base64 JPEG", Received(Base64Lines(jpeg)), Single("pic.jpg"), TBodyFormat::Base64, false,
                   {{TPieceKind::WholeFile, "pic.jpg", jpeg}}});
  {
    FBodyFacts f = Single("w.bin");
    f.yencFlag = true;
    std::string wrapped = "--b\nContent-Type: application/octet-stream; name=\"w.bin\"\n"
                          "Content-Transfer-Encoding: x-yenc\n\n";
    cases.push_back({"yEnc in a MIME part", Received(wrapped) + "\r\n" + YencBody("w.bin", d, 0, 0, 1, d) + "\r\n--b--",
                     f, TBodyFormat::MimeYenc, false, {{TPieceKind::WholeFile, "w.bin", d}}});
  }

  cases.push_back({"plain text, its first line a real dot", Received(".first\nHello\n..two dots\n"), Single("notes"),
                   TBodyFormat::Text, false, {{TPieceKind::Text, "notes.txt", ".first\r\nHello\r\n..two dots"}}});
  cases.push_back({"plain text already named .txt", Received("x\n"), Single("Read.TXT"), TBodyFormat::Text, false,
                   {{TPieceKind::Text, "Read.TXT", "x"}}});
  {
    FBodyFacts f = Part("x.jpg", 3, 12);
    f.saveAsText = true;
    cases.push_back({"saved as text", Received("=ybegin line=128 size=3 name=x.jpg\n.dot\n"), f,
                     TBodyFormat::SaveAsText, false,
                     {{TPieceKind::Text, "x.jpg.03.nws", "=ybegin line=128 size=3 name=x.jpg\r\n.dot"}}});
  }
  return cases;
}

TEST(BodyFormats, EveryFormatDecodesToItsPieces) {
  const std::vector<FCase> cases = Cases();
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string body = c.body;
    const FDecodedBody result = DecodeBody(body, c.facts);
    EXPECT_EQ(result.failed, c.failed);
    if (c.failed) {
      EXPECT_FALSE(result.errors.empty());
      EXPECT_TRUE(result.pieces.empty());
      continue;
    }
    EXPECT_EQ(static_cast<int>(result.format), static_cast<int>(c.format));
    EXPECT_EQ(result.wholeFileInPart, c.wholeFileInPart);
    EXPECT_EQ(result.warnings.size(), c.warnings);
    ASSERT_EQ(result.pieces.size(), c.pieces.size());
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      const FDecodedPiece& got = result.pieces[i];
      const FExpectPiece& want = c.pieces[i];
      EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(want.kind));
      EXPECT_EQ(got.name, want.name);
      EXPECT_EQ(got.part, want.part);
      ASSERT_LE(got.offset + got.size, body.size());
      EXPECT_TRUE(body.compare(got.offset, got.size, want.data) == 0) << "decoded bytes differ, piece " << i;
      EXPECT_EQ(got.crc, UpdateCrc32(want.data.data(), want.data.size(), 0));
    }
  }
}

TEST(BodyFormats, YencPartCarriesItsPlaceInTheFile) {
  const std::string file = RandomBytes(9000, 5);
  std::string body = YencPart("f.rar", file, 3, 3);
  const FDecodedBody result = DecodeBody(body, Part("f.rar", 3, 0));  // the subject knew no count
  ASSERT_EQ(result.pieces.size(), 1u);
  EXPECT_EQ(result.pieces[0].fileOffset, 6000u);
  EXPECT_EQ(result.pieces[0].fileSize, 9000u);
  EXPECT_EQ(result.pieces[0].total, 3u) << "taken from total=";
  body = YencPart("f.rar", file, 2, 3);
  EXPECT_EQ(DecodeBody(body, Part("f.rar", 2, 5)).pieces.at(0).total, 3u) << "the post outranks the subject";
}

TEST(BodyFormats, PieceHelpers) {
  struct FUnstuff {
    std::string in, out;
  };
  for (const FUnstuff& c : std::vector<FUnstuff>{{"..a\r\nb\r\n..\r\n.c", ".a\r\nb\r\n.\r\nc"}, {"", ""}, {".", ""}}) {
    std::string s = c.in;
    s.resize(UndoDotStuffing(s.data(), s.size()));
    EXPECT_EQ(s, c.out);
  }
  // Base64 ends after padding, skips what is not in its alphabet, and keeps a cut group.
  struct FBase64 {
    std::string in, out;
  };
  for (const FBase64& c : std::vector<FBase64>{{"QUJD", "ABC"},
                                              {"QU\r\nJD\r\n.", "ABC"},
                                              {"QQ==QUJD", "A"},
                                              {"QUI", "AB"},
                                              {"", ""}}) {
    std::string s = c.in;
    s.resize(Base64Decode(s.data(), s.size(), s.data()));
    EXPECT_EQ(s, c.out) << c.in;
  }
  // MIME names: quoted, unquoted up to ";", or absent.
  const std::string body = "--b\nContent-Type: x; name=\"a b.jpg\"\nContent-Transfer-Encoding: BASE64\n\nQQ==\n"
                           "--b\nContent-Type: x; NAME=c.jpg; size=3\nContent-Transfer-Encoding:\tbase64\n\nQQ==\n--b\n"
                           "Content-Transfer-Encoding: base64\n\nQQ==\n--b--\n";
  const std::vector<FMimePart> parts = FindMimeParts(body, "base64");
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].name, "a b.jpg");
  EXPECT_EQ(parts[1].name, "c.jpg");
  EXPECT_EQ(parts[2].name, "");
  EXPECT_EQ(body.substr(parts[0].contentBegin, parts[0].contentEnd - parts[0].contentBegin), "QQ==\n");
}

TEST(BodyFormats, UuencodeToleratesOnlyAShortLastGroup) {
  // 45 bytes need 60 characters; trailing blanks dropped by a mail system are zeros.
  const std::string zeros(45, '\0');
  std::string line = "M" + std::string(60, '`');
  for (size_t keep : {size_t{60}, size_t{58}, size_t{57}, size_t{55}}) {
    std::string text = line.substr(0, 1 + keep) + "\r\n";
    const FUuData d = UudecodeLines(text.data(), text.size(), 0, text.data());
    EXPECT_EQ(d.produced, keep >= 57 ? 45u : 0u) << keep;
  }
}

}  // namespace
