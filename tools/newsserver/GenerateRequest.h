#pragma once
// "--generate WHAT[:key=value,...]": the content requests zevrin-newsd and the INN
// feeder share, so that both serve the same articles for the same seed.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ArticleGenerator.h"

namespace zev::testserver {

struct FGenerateRequest {
  std::string what;                                        // standard, text, bulk, bench, broken
  std::vector<std::pair<std::string, std::string>> args;   // key=value pairs
};

bool ParseGenerate(const std::string& text, FGenerateRequest& out, std::string& error);
// Posts what the request asks for; throws std::runtime_error for a bad value or key.
void GenerateContent(TArticleGenerator& generator, const FGenerateRequest& request);
// "750000", "750K", "1M", "1G" (powers of 1024 for K/M/G). False when not a size.
bool ParseSize(const std::string& text, uint64_t& out);

}  // namespace zev::testserver
