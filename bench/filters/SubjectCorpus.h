#pragma once
// A seeded generator of binary-newsgroup subject lines in the styles that posting tools
// produce, so every run measures the same corpus.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zev::bench {

struct FCorpusArticle {
  std::string subject;
  uint32_t lines;
};

std::vector<FCorpusArticle> MakeSubjectCorpus(size_t count, uint32_t seed);

}  // namespace zev::bench
