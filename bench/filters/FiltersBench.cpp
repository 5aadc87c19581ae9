// Throughput of subject analysis, file-name search, the wildcard matcher and a kill
// filter set of PCRE2 expressions over a generated corpus, on one core.
//   bench_filters [subjects=1000000] [runs=3] [only=text]
// With `only`, just the measurements whose label contains the text are run.
// Each figure is subjects per second of this thread's CPU time, the best of the runs
// (other work on the machine only slows a run down).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SubjectCorpus.h"
#include "filters/ExtList.h"
#include "filters/Matcher.h"
#include "filters/Perlre.h"
#include "filters/SubjectAnalysis.h"

using namespace zev;
using namespace zev::bench;

namespace {

// The part-size estimate the article record makes from a line count before analysis.
uint32_t EstimateFromLines(uint32_t l) {
  if (l >= 1001 && l % 1000 <= 9) return (l / 1000) * 45000;
  if (l < 41) return l * 25;
  return l * 45 - 90;
}

const std::vector<std::string> kExePatterns{
    "*.jpg", "*.jpeg", "*.gif",  "*.mp3",      "*.txt",     "*.nfo",    "*.zip",      "*.rar",    "*.r##",   "*.par2",
    "*.avi", "*.mkv",  "*.7z.0##", "*sample*", "*.vol#*",  "*(#/#)",   "*(##/###)", "*.part#.rar", "*yenc*", "*.png"};

const std::vector<std::string> kKillExpressions{
    "\\.exe\\b", "password", "keygen|crack|serial", "^Re: ", "\\bsample\\b", "\\.(?:wmv|asf)\"", "virus", "spam",
    "\\[\\d+/\\d+\\] - \"[^\"]*\\.zip\"", "german|french|italian", "x264.*1080p", "S\\d\\dE\\d\\d", "\\.scr\\b",
    "\\.bat\\b", "\\.vbs\\b", "\\.lnk\\b", "trailer", "\\bcam\\b", "\\bts\\b", "telesync", "dvdscr", "screener",
    "\\bxxx\\b", "porn", "casino", "viagra", "bitcoin", "free money", "click here", "\\bwin\\b.*\\bprize\\b",
    "\\.(?:com|pif)\"", "\\bpasswort\\b", "http://", "https://", "www\\.", "^\\s*$", "\\bcracked\\b",
    "\\bfake\\b", "\\.iso\" yEnc \\(1/1\\)", "\\bremux\\b", "\\bhdcam\\b", "\\bhdts\\b", "\\bwebrip\\b",
    "\\bdubbed\\b", "\\bsubbed\\b", "\\bsample\\.mkv", "\\bproof\\b", "\\bnuked\\b", "\\binternal\\b",
    "\\bread\\.?me\\b"};

// CPU time of this thread: on a machine shared with other work, wall time would measure
// how often we were scheduled rather than how fast the code is.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Expressions that scan at every position: costly in any engine, shown apart.
const std::vector<std::string> kHeavyExpressions{"(.)\\1{9}", "[A-Z]{20}", "(?:\\d{1,3}\\.){3}\\d{1,3}"};

double BestRate(size_t count, int runs, const std::function<size_t()>& body, size_t& sink) {
  double best = 0;
  for (int r = 0; r < runs; ++r) {
    double t0 = ThreadSeconds();
    sink += body();
    best = std::max(best, static_cast<double>(count) / (ThreadSeconds() - t0));
  }
  return best;
}

const char* gOnly = nullptr;

bool Wanted(const char* label) { return !gOnly || std::string(label).find(gOnly) != std::string::npos; }

void Report(const char* what, double rate, double goal) {
  std::printf("%-44s %12.0f subjects/s   goal %9.0f  %s\n", what, rate, goal, rate >= goal ? "ok" : "BELOW GOAL");
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  gOnly = argc > 3 ? argv[3] : nullptr;
  auto corpus = MakeSubjectCorpus(count, 20240611);
  const TExtList extensions = TExtList::CreateFromPlatform();
  std::printf("corpus: %zu subjects, seed 20240611; best of %d runs\n", count, runs);
  std::printf("sample: %s\n        %s\n", corpus[0].subject.c_str(), corpus[1].subject.c_str());
  size_t sink = 0;

  if (Wanted("AnalyzeSubject")) Report("AnalyzeSubject", BestRate(count, runs, [&] {
           size_t names = 0;
           std::string subject, fileName;
           for (const auto& a : corpus) {
             FMsgData m{};
             m.FLines = a.lines;
             m.FPartSize = m.FFileSize = EstimateFromLines(a.lines);
             subject.assign(a.subject);
             AnalyzeSubject(m, subject, fileName, extensions);
             names += !fileName.empty();
           }
           return names;
         }, sink), 1e6);

  if (Wanted("FindFileName")) Report("FindFileName", BestRate(count, runs, [&] {
           size_t found = 0;
           for (const auto& a : corpus) found += extensions.FindFileName(a.subject).has_value();
           return found;
         }, sink), 2e6);

  TMatcher matcher;
  matcher.AddPatterns(kExePatterns);
  if (Wanted("TMatcher, 20 patterns")) Report("TMatcher, 20 patterns", BestRate(count, runs, [&] {
           size_t hits = 0;
           for (const auto& a : corpus) hits += matcher.Matches(a.subject);
           return hits;
         }, sink), 2e6);

  if (Wanted("FindFileName + TMatcher on the name")) Report("FindFileName + TMatcher on the name", BestRate(count, runs, [&] {
           size_t hits = 0;
           for (const auto& a : corpus)
             if (auto pos = extensions.FindFileName(a.subject))
               hits += matcher.Matches(std::string_view(a.subject).substr(pos->start, pos->length));
           return hits;
         }, sink), 2e6);

  struct FSet {
    const char* label;
    const std::vector<std::string>* expressions;
    bool jit;
    double goal;
  };
  for (const FSet& set : {FSet{"50 kill expressions, JIT", &kKillExpressions, true, 5e5},
                          FSet{"50 kill expressions, interpreter (no goal)", &kKillExpressions, false, 0},
                          FSet{"3 heavy expressions, JIT (no goal)", &kHeavyExpressions, true, 0}}) {
    if (!Wanted(set.label)) continue;
    std::vector<std::unique_ptr<TPerlre>> filters;
    for (const auto& e : *set.expressions) {
      filters.push_back(std::make_unique<TPerlre>(set.jit, TPerlre::kCaseless | TPerlre::kDotAll));
      filters.back()->Compile(e);
    }
    Report(set.label, BestRate(count, runs, [&] {
             size_t hits = 0;
             for (const auto& a : corpus)
               for (const auto& f : filters) hits += f->Matches(a.subject);
             return hits;
           }, sink), set.goal);
  }
  // A catastrophic expression against a hostile subject: the match limit ends it.
  for (const char* e : {"(a+)+$", "^(\\w+\\s?)*$"}) {
    if (!Wanted("catastrophic")) break;
    TPerlre re(true, TPerlre::kCaseless | TPerlre::kDotAll);
    re.Compile(e);
    const std::string hostile = std::string(254, 'a') + "!";
    double t0 = ThreadSeconds();
    bool matched = re.Matches(hostile);
    std::printf("catastrophic %-20s on 255 hostile characters: %s after %.2f ms\n", e, matched ? "match" : "no match",
                (ThreadSeconds() - t0) * 1e3);
  }
  std::printf("(checksum %zu)\n", sink);
  return 0;
}
