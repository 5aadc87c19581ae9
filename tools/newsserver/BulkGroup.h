#pragma once
// A group of many small yEnc posts whose headers are computed from the article number,
// for header-retrieval benchmarks: a million articles cost a few hundred kilobytes (the
// start numbers of files and sets), not a million article objects. Bodies are built on
// request.
#include <cstdint>
#include <string>
#include <vector>

#include "NewsGroup.h"

namespace zev::testserver {

struct FBulkOptions {
  std::string name = "zevrin.test.bulk";
  uint64_t count = 100000;
  uint64_t seed = 1;
  uint64_t firstNumber = 1;
  uint32_t partSize = 512;          // raw bytes of each part's data
  uint32_t maxPartsPerFile = 40;
  uint32_t maxFilesPerSet = 6;
  int64_t startTime = 1718452800;   // 2024-06-15 12:00:00 UTC
};

class TBulkGroup : public TNewsGroup {
 public:
  explicit TBulkGroup(const FBulkOptions& options);

  uint64_t Count() const override { return options_.count; }
  uint64_t Low() const override { return options_.firstNumber; }
  uint64_t High() const override { return options_.firstNumber + options_.count - 1; }
  uint64_t NextNumber(uint64_t n) const override;
  TArticlePtr Article(uint64_t n) const override;
  std::string Xref(uint64_t n) const override;
  void AppendOverview(uint64_t n, std::string& out) const override;
  bool HeaderValue(uint64_t n, std::string_view name, std::string& value) const override;

  // The article number behind one of this group's Message-IDs, or 0.
  uint64_t NumberOfMessageId(std::string_view messageId) const;

 private:
  struct FPartInfo {
    uint64_t file;
    uint32_t part;
    uint32_t total;
    uint64_t set;
    uint32_t fileInSet;
    uint32_t filesInSet;
  };
  FPartInfo Locate(uint64_t n) const;
  std::string Subject(const FPartInfo& info) const;
  std::string From(const FPartInfo& info) const;
  std::string MessageId(uint64_t n) const;
  int64_t Date(uint64_t n) const;
  uint64_t EstimatedBytes() const;

  FBulkOptions options_;
  std::vector<uint32_t> fileStart_;  // index (from 0) of each file's first article
  std::vector<uint32_t> setStart_;   // index of each set's first file
  uint64_t idKey_;
};

}  // namespace zev::testserver
