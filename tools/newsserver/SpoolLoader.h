#pragma once
// Serving articles from files: every sub-directory of the spool is a group named after
// it, and every regular file in it one article (headers, empty line, body; LF or CRLF).
// Files named by a number keep that number; the others follow in name order.
#include <cstdint>
#include <string>
#include <vector>

#include "ArticleStore.h"

namespace zev::testserver {

struct FSpoolReport {
  uint64_t articles = 0;
  std::vector<std::string> skipped;  // "path: reason" for files that are not articles
};

// Larger files are skipped: a spool is test data, not a place for disk images.
constexpr uint64_t kMaxSpoolArticle = 64ull * 1024 * 1024;

// Loads the spool into the store; throws std::runtime_error when the directory cannot
// be read. Articles without a Message-ID get one made from the group and the file name.
FSpoolReport LoadSpool(const std::string& directory, TArticleStore& store);

// Parses one article file's text into headers and body; false with a reason when the
// text has no header block. Folded header lines are joined.
bool ParseArticleText(std::string_view text, std::vector<FHeader>& headers, std::string_view& body,
                      std::string& error);

}  // namespace zev::testserver
