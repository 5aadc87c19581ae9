#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/Log.h"
#include "filters/SubjectAnalysis.h"

using namespace zev;

namespace {

// "{1}" ... "{7}" stand for the placeholder codes, so templates stay readable.
std::string T(std::string text) {
  for (char code = 1; code <= 7; ++code) {
    std::string mark = "{" + std::to_string(int(code)) + "}";
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), 1, code);
  }
  return text;
}

constexpr uint32_t F(TArticleFlag f) { return FlagBit(f); }

std::string FlagNames(uint32_t flags) {
  static const char* names[] = {"Read", "Downloaded", "Marked", "ApproxSize", "ExactName", "BadSize", "ExactSize",
                                "MultiPart", "GoodParts", "BadParts", "Wanted", "Killed", "UUE", "MIME", "yEnc",
                                "NowDownloading", "SaveAsText", "17", "HideIfCombined", "HeaderOnly",
                                "BuildSubject", "HideIfOverview", "KillWantCSV", "IsReply"};
  std::string out;
  for (int i = 0; i < 24; ++i)
    if (flags >> i & 1u) out += std::string(out.empty() ? "" : "|") + names[i];
  return out.empty() ? "none" : out;
}

// The record as the accessor's SetLines left it, and what the analysis must make of it.
struct FSubjectCase {
  const char* label;
  std::string subject;
  uint32_t lines, partSize, fileSize, flags;  // before
  std::string tmpl, fileName;                // after
  uint32_t expFlags;
  uint16_t partNo, partTotal, fileNo, fileTotal;
  uint32_t expLines, expPartSize, expFileSize;
};

void PrintTo(const FSubjectCase& c, std::ostream* os) { *os << c.label; }

class SubjectCases : public ::testing::TestWithParam<FSubjectCase> {};

TEST_P(SubjectCases, TakesTheSubjectApart) {
  const FSubjectCase& c = GetParam();
  static const TExtList extensions = TExtList::Create({});
  auto record = [&c] {
    FMsgData r{};
    r.FLines = c.lines;
    r.FPartSize = c.partSize;
    r.FFileSize = c.fileSize;
    r.FFlags = c.flags;
    return r;
  };
  FMsgData m = record();
  std::string subject = c.subject, fileName = "stale";
  AnalyzeSubject(m, subject, fileName, extensions);
  EXPECT_EQ(subject, c.tmpl);
  EXPECT_EQ(fileName, c.fileName);
  EXPECT_EQ(FlagNames(m.FFlags), FlagNames(c.expFlags));
  EXPECT_EQ(m.FPartNo, c.partNo);
  EXPECT_EQ(m.FPartTotal, c.partTotal);
  EXPECT_EQ(m.FFileNo, c.fileNo);
  EXPECT_EQ(m.FFileTotal, c.fileTotal);
  EXPECT_EQ(m.FLines, c.expLines);
  EXPECT_EQ(m.FPartSize, c.expPartSize);
  EXPECT_EQ(m.FFileSize, c.expFileSize);
  // The analyzer gives the same, when it analyses and when it remembers.
  TSubjectAnalyzer analyzer;
  for (int pass = 0; pass < 2; ++pass) {
    FMsgData a = record();
    std::string s = c.subject, name = "stale";
    analyzer.Analyze(a, s, name, extensions);
    EXPECT_EQ(s, subject) << "pass " << pass;
    EXPECT_EQ(name, fileName) << "pass " << pass;
    EXPECT_EQ(std::memcmp(&a, &m, sizeof a), 0) << "pass " << pass;
  }
}

constexpr uint32_t kYenc = F(afyEncode), kBuild = F(afBuildSubject), kMulti = F(afMultiPart), kGood = F(afGoodParts),
                   kExact = F(afExactSize), kApprox = F(afApproxSize), kReply = F(afIsReply);

// Worked examples and edge cases of the analysis rules.
INSTANTIATE_TEST_SUITE_P(
    Rules, SubjectCases,
    ::testing::Values(
        FSubjectCase{"set number five characters before the quoted name",
                     "Holiday photos [03/12] - \"beach.jpg\" yEnc (1/4)", 3000, 135000, 135000, 0,
                     T("Holiday photos [{1}] - \"{3}\" {7} ({4})"), "beach.jpg", kYenc | kBuild | kMulti, 1, 4, 3, 12,
                     3000, 378000, 378000},
        FSubjectCase{"size in bytes close to the line estimate", "Report 2006 final.pdf 1234567 bytes", 27437,
                     1234575, 1234575, 0, T("Report 2006 {3} {5} bytes"), "final.pdf", kExact | kGood | kBuild, 0, 0,
                     0, 0, 27437, 1234575, 1234567},
        FSubjectCase{"reply with an of-style set number", "Re: Vacation video part 2 of 3 - clip.avi", 5000, 225000,
                     225000, 0, T("Vacation video part {2} - {3}"), "clip.avi", kReply | kBuild | kGood, 0, 0, 2, 3,
                     5000, 225000, 225000},
        FSubjectCase{"part 0 is complete", "Test (0/5)", 100, 4410, 4410, 0, T("Test ({4})"), "", kBuild | kGood, 0, 5,
                     0, 0, 100, 4410, 4410},
        FSubjectCase{"part above its total is skipped", "a (2/5) b (7/5)", 100, 4410, 4410, 0, T("a ({4}) b ({1})"),
                     "", kBuild | kMulti, 2, 5, 7, 5, 100, 4410, 4410},
        FSubjectCase{"one part of one", "single (1/1)", 100, 4410, 4410, 0, T("single ({4})"), "", kBuild | kGood, 1,
                     1, 0, 0, 100, 4410, 4410},
        FSubjectCase{"bit rate beside an mp3 is no size", "album 128K (*.mp3)", 0, 131072, 131072, 0,
                     "album 128K (*.mp3)", "", kGood, 0, 0, 0, 0, 0, 131072, 131072},
        FSubjectCase{"same kilobytes without an mp3", "album 128K (*.ogg)", 0, 131072, 131072, 0,
                     T("album {6}K (*.ogg)"), "", kApprox | kBuild | kGood, 0, 0, 0, 0, 0, 131072, 131072},
        FSubjectCase{"only the first yEnc, any case", "file yENC and yenc", 0, 0, 0, 0, T("file {7} and yenc"), "",
                     kYenc | kGood, 0, 0, 0, 0, 0, 0, 0},
        FSubjectCase{"template cut to 255", std::string(300, 'x'), 0, 0, 0, 0, std::string(255, 'x'), "", kGood, 0, 0,
                     0, 0, 0, 0, 0},
        FSubjectCase{"placeholder bytes from the wire are neutralised", "evil \x03 name \x05 (1/2)", 0, 0, 0, 0,
                     T("evil ? name ? ({4})"), "", kBuild | kMulti, 1, 2, 0, 0, 0, 0, 0},
        FSubjectCase{"size of 4 GiB or more saturates", "(1/9000) 6000000000 bytes", 0, 0, 0, 0,
                     T("({4}) {5} bytes"), "", kBuild | kMulti | kExact, 1, 9000, 0, 0, 0, 0, 0xFFFFFFFF},
        FSubjectCase{"digits beyond 64 bits saturate", "x 123456789012345678901234567890 bytes", 0, 0xFFFFFFF0,
                     0xFFFFFFF0, 0, T("x {5} bytes"), "", kBuild | kGood | kExact, 0, 0, 0, 0, 0, 0xFFFFFFF0,
                     0xFFFFFFFF},
        FSubjectCase{"decimal kilobytes round half to even", "notes 1.00048828125 kB", 0, 1024, 1024, 0,
                     T("notes {6} kB"), "", kApprox | kBuild | kGood, 0, 0, 0, 0, 0, 1024, 1024},
        FSubjectCase{"decimal comma as written", "clip 12,5 kB", 0, 12800, 12800, 0, T("clip {6} kB"), "",
                     kApprox | kBuild | kGood, 0, 0, 0, 0, 0, 12800, 12800},
        FSubjectCase{"a later size that agrees is taken too", "(1/2) 150000 bytes 146K", 0, 0, 0, 0,
                     T("({4}) {5} bytes {6}K"), "", kMulti | kBuild | kExact | kApprox, 1, 2, 0, 0, 0, 0, 149504},
        FSubjectCase{"whole-file size reported on a part", "big.iso (1/3)", 60000, 3000000, 3000000, 0,
                     T("{3} ({4})"), "big.iso", kBuild | kMulti, 1, 3, 0, 0, 30000, 1500000, 3000000},
        FSubjectCase{"last part loses the questionable size", "last (3/3)", 100, 4410, 4410, F(afBadSize),
                     T("last ({4})"), "", kBuild | kMulti, 3, 3, 0, 0, 100, 4410, 4410},
        FSubjectCase{"inconsistent stored sizes are clamped, not wrapped", "x yEnc", 10, 5000, 100, 0, T("x {7}"), "",
                     kYenc | kGood, 0, 0, 0, 0, 10, 1260, 1260},
        FSubjectCase{"words between a distant set number and the name join it", "01/12 - My holiday pic.jpg", 0, 0, 0,
                     0, T("{1} - {3}"), "My holiday pic.jpg", kBuild | kGood, 0, 0, 1, 12, 0, 0, 0},
        FSubjectCase{"set number running into the name", "1/5-file.jpg", 0, 0, 0, 0, T("{1}-{3}"), "file.jpg",
                     kBuild | kGood, 0, 0, 1, 5, 0, 0, 0},
        FSubjectCase{"empty subject", "", 10, 250, 250, 0, "", "", kGood, 0, 0, 0, 0, 10, 250, 250}));

// Subject styles that posting tools produce.
INSTANTIATE_TEST_SUITE_P(
    PostingStyles, SubjectCases,
    ::testing::Values(
        FSubjectCase{"numbered set, quoted name, zero-padded parts", "[1/8] - \"holiday.part1.rar\" yEnc (01/50)", 3000,
                     135000, 135000, 0, T("[{1}] - \"{3}\" {7} ({4})"), "holiday.part1.rar", kYenc | kBuild | kMulti,
                     1, 50, 1, 8, 3000, 378000, 378000},
        FSubjectCase{"bare quoted name", "\"photo.jpg\" yEnc (1/4)", 2000, 90000, 90000, 0, T("\"{3}\" {7} ({4})"),
                     "photo.jpg", kYenc | kBuild | kMulti, 1, 4, 0, 0, 2000, 252000, 252000},
        FSubjectCase{"episode tag, set, unknown extension, size in bytes",
                     "(Some.Show.S01E02) [03/12] - \"file.r01\" yEnc 15000000 (5/40)", 3000, 135000, 135000, 0,
                     T("(Some.Show.S01E02) [{1}] - \"{3}\" {7} {5} ({4})"), "file.r01",
                     kYenc | kBuild | kMulti | kExact, 5, 40, 3, 12, 3000, 378000, 15000000},
        FSubjectCase{"mp3 with a bit rate", "file.mp3 128K (1/3)", 1000, 44910, 44910, 0, T("{3} {6}K ({4})"),
                     "file.mp3", kApprox | kBuild | kMulti, 1, 3, 0, 0, 1000, 44910, 131072},
        FSubjectCase{"reply, of-style at the end", "Re: Some files part 2 of 3", 100, 4410, 4410, 0,
                     T("Some files part {2}"), "", kReply | kBuild | kGood, 0, 0, 2, 3, 100, 4410, 4410},
        FSubjectCase{"of-style set after the name",
                     "My.Movie.2006 - \"movie.part01.rar\" 10 of 55 yEnc (001/134)", 3000, 135000, 135000, 0,
                     T("My.Movie.2006 - \"{3}\" {2} {7} ({4})"), "movie.part01.rar", kYenc | kBuild | kMulti, 1, 134,
                     10, 55, 3000, 378000, 378000},
        FSubjectCase{"bracket tags and a par2 volume",
                     "[PRiVATE]-[abc]-[5/10] - \"abc.vol03+04.par2\" yEnc (1/5)", 2000, 90000, 90000, 0,
                     T("[PRiVATE]-[abc]-[{1}] - \"{3}\" {7} ({4})"), "abc.vol03+04.par2", kYenc | kBuild | kMulti, 1, 5,
                     5, 10, 2000, 252000, 252000},
        FSubjectCase{"uuencoded, no yEnc", "Holiday.avi (1/3)", 2000, 90000, 90000, 0, T("{3} ({4})"), "Holiday.avi",
                     kBuild | kMulti, 1, 3, 0, 0, 2000, 90000, 90000},
        FSubjectCase{"square part brackets", "Some text.nfo [2/2]", 40, 1000, 1000, 0, T("{3} [{4}]"),
                     "Some text.nfo", kBuild | kMulti, 2, 2, 0, 0, 40, 1000, 1000}));

// Runs of headers as a group delivers them: the parts of several files, interleaved, with
// the last part's other size and flags, records that differ only in what the analysis
// reads, and a second extension list. Every result must be the direct analysis's.
TEST(SubjectAnalysis, AnalyzerMatchesTheDirectAnalysisOverRunsOfParts) {
  static const TExtList plain = TExtList::Create({});
  static const TExtList withZev = TExtList::Create({".zevdata"});
  struct FHeader {
    std::string subject;
    uint32_t lines, partSize, fileSize, flags;
    const TExtList* extensions;
  };
  std::vector<FHeader> run;
  auto parts = [&](const char* format, int total, uint32_t lines, uint32_t lastLines, uint32_t flags,
                   const TExtList* ext) {
    for (int part = 1; part <= total; ++part) {
      char text[200];
      std::snprintf(text, sizeof text, format, part, total);
      const uint32_t l = part == total ? lastLines : lines;
      run.push_back({text, l, l * 126, l * 126, flags, ext});
    }
  };
  parts("[1/3] - \"a.part1.rar\" yEnc (%02d/%d)", 12, 3000, 1000, 0, &plain);
  parts("\"photo.jpg\" yEnc [%d/%d]", 4, 2000, 2000, F(afBadSize), &plain);  // only the last part differs
  parts("show - file.zevdata yEnc (%d/%d)", 3, 3000, 3000, 0, &withZev);      // only the list differs
  parts("show - file.zevdata yEnc (%d/%d)", 3, 3000, 3000, 0, &plain);
  parts("x 123456789012345678901234567890 bytes (%d/%d)", 3, 100, 100, 0, &plain);
  parts("big.iso (%d/%d)", 3, 60000, 60000, 0, &plain);
  parts("Re: clip part %d of %d - clip.avi", 3, 5000, 5000, 0, &plain);
  // Only the record's sizes differ: the size in the text is taken for the one, not the other.
  for (uint32_t size : {1234575u, 5000u, 1234575u})
    run.push_back({"Report 2006 final.pdf 1234567 bytes", 27437, size, size, 0, &plain});
  // Subjects one after the other that differ in digits other than the part number, or in
  // a part number that fails one of the analysis's tests where the one before passed.
  for (const char* subject :
       {"[1/3] - \"same.rar\" yEnc (1/4)", "[2/3] - \"same.rar\" yEnc (1/4)", "x (1/5)", "x (0/5)", "x (1/5)",
        "x (6/5)", "x (4/5)", "x (5/5)", "x (1/6)", "x (9/12)", "x (10/12)", "x (11/12)", "x (12/12)",
        "x (1/5) 2000 bytes", "x (1/5) 3000 bytes", "x 12 (3/5)", "x 13 (3/5)", "file1.rar (1/5)", "file2.rar (1/5)",
        "(1/5) (2/5)", "(3/5) (2/5)", "(3/5) (4/5)", "(3/5) [4/5]", "(3/5) [3/5]", "12345 (1/5)", "12346 (1/5)",
        "Re:  a   b (1/5)", "Re:  a   b (2/5)", "\x03 a  yEnc (1/5)", "\x03 a  yEnc (2/5)", "a 1/5", "a 2/5", "a 5/5",
        "a (000001/5)", "a (000002/5)", "a (1/5)", "1 (1/5)", "x (01/50)", "x (0:/50)", "a (0000000001/5)",
        "a (4294967297/5)", "(1/3) 150000 bytes", "(2/3) 150000 bytes", "(3/3) 150000 bytes"})
    run.push_back({subject, 100, 4410, 4410, 0, &plain});
  // Interleaved files, as several posters' headers arrive mixed, more than the analyzer holds.
  const size_t files = run.size();
  for (size_t i = 0; i < files; i += 7)
    for (size_t j = i; j < files; j += 5) run.push_back(run[j]);
  TSubjectAnalyzer analyzer;
  for (const FHeader& h : run) {
    FMsgData direct{};
    direct.FLines = h.lines;
    direct.FPartSize = h.partSize;
    direct.FFileSize = h.fileSize;
    direct.FFlags = h.flags;
    FMsgData remembered = direct;
    std::string s1 = h.subject, s2 = h.subject, n1, n2 = "stale";
    AnalyzeSubject(direct, s1, n1, *h.extensions);
    analyzer.Analyze(remembered, s2, n2, *h.extensions);
    EXPECT_EQ(s2, s1) << h.subject;
    EXPECT_EQ(n2, n1) << h.subject;
    EXPECT_EQ(std::memcmp(&remembered, &direct, sizeof direct), 0)
        << h.subject << ": flags " << FlagNames(remembered.FFlags) << " / " << FlagNames(direct.FFlags);
  }
}

// A result whose analysis wrote a log entry is not remembered: each such subject is
// reported again.
TEST(SubjectAnalysis, AnalyzerLogsEveryOverflowingSize) {
  static const TExtList plain = TExtList::Create({});
  const std::string path = ::testing::TempDir() + "zev_subject_analyzer.log";
  std::remove(path.c_str());
  SetErrorLogPath(path);
  SetWarningsLevel(TWarningsLevel::Verbose);
  TSubjectAnalyzer analyzer;
  for (int i = 0; i < 2; ++i) {
    FMsgData m{};
    std::string subject = "x 123456789012345678901234567890 bytes (1/2)", name;
    analyzer.Analyze(m, subject, name, plain);
  }
  std::ifstream in(path);
  std::string line;
  int entries = 0;
  while (std::getline(in, line)) entries += line.find("Integer Overflow") != std::string::npos;
  EXPECT_EQ(entries, 2);
  SetErrorLogPath({});
  SetWarningsLevel(TWarningsLevel::Normal);
  TakePendingReport();
}

TEST(SubjectAnalysis, HostileLongSubjectStaysLinearAndBounded) {
  static const TExtList extensions = TExtList::Create({});
  std::string subject;
  for (int i = 0; i < 200000; ++i) subject += "4410 ";
  subject += "(1/2) yEnc 9/9 \"x.jpg\"";
  FMsgData m{};
  m.FPartSize = m.FFileSize = 4410;
  std::string name;
  AnalyzeSubject(m, subject, name, extensions);
  EXPECT_LE(subject.size(), 255u);
  EXPECT_EQ(name, "x.jpg");
}

}  // namespace
