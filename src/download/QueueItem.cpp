#include "download/QueueItem.h"

#include <strings.h>

#include <string>

namespace zev {

namespace {

struct FKindText {
  const char* type;
  const char* xmlWord;
};

constexpr FKindText kKindTexts[kQueueKindCount] = {
    {"group", "GROUP"},
    {"xpat", "XPAT"},
    {"validate", "Validate"},
    {"Message-ID", "Message-ID"},
    {"xhdr Lines", "Size"},
    {"listgroup", "LISTGROUP"},
    {"xhdr Subject", "Subject"},
    {"xhdr From", "Author"},
    {"xhdr Date", "Date"},
    {"body", "BODY"},
};

}  // namespace

const char* QueueKindTypeText(TQueueKind kind) { return kind < kQueueKindCount ? kKindTexts[kind].type : ""; }

const char* QueueKindXmlWord(TQueueKind kind) { return kind < kQueueKindCount ? kKindTexts[kind].xmlWord : ""; }

TQueueKind QueueKindFromXmlWord(std::string_view word) {
  const std::string text(word);
  for (int k = 1; k < kQueueKindCount; ++k)
    if (strcasecmp(text.c_str(), kKindTexts[k].xmlWord) == 0) return static_cast<TQueueKind>(k);
  return qkGroup;
}

}  // namespace zev
