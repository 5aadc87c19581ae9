#pragma once
// The part completeness check lives in the download library, above the database. When an
// expired part leaves its file, the article accessor asks it to recount that file through
// this interface; start-up points gPartCheckHook at the checker (tests at a stand-in).
#include "db/MsgData.h"

namespace zev {

class TPartCheckHook {
 public:
  virtual ~TPartCheckHook() = default;
  // For a multi-part article whose file the check knows: recounts the file's parts and
  // returns whether it is complete. Does nothing for a file it does not know.
  virtual bool RecheckKnown(TArticleOffset offset) = 0;
};

extern TPartCheckHook* gPartCheckHook;

}  // namespace zev
