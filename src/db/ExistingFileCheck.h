#pragma once
// What automatic marking needs of the existing-file list: whether the file an article
// belongs to is already there. The existing-file list (download/FileCheck) implements
// this and start-up points gExistingFiles at it; without one nothing counts as existing.
#include <string>

#include "db/MsgData.h"

namespace zev {

class TExistingFileCheck {
 public:
  virtual ~TExistingFileCheck() = default;
  // The best match for the article's file in `directory` (and the CSV inventories).
  virtual TFileMatch Classify(TArticleOffset offset, const std::string& directory) = 0;
};

extern TExistingFileCheck* gExistingFiles;

}  // namespace zev
