#pragma once
// The NNTP command lines the queue sends for its items, and the checks that keep text from
// outside (group names from server lists, Message-IDs from overview data, search patterns
// typed by the user) from adding a second command to the line.
#include <cstdint>
#include <string>
#include <string_view>

#include "download/QueueItem.h"

namespace zev {

// A group name or header name: one word of visible characters.
bool IsCommandWord(std::string_view text);
// A Message-ID without its angle brackets: visible ASCII, no "<" or ">".
bool IsUsableMessageId(std::string_view id);
// Free text inside a command (a search pattern): no line break and no NUL.
bool IsCommandText(std::string_view text);

std::string GroupCommand(std::string_view group);
std::string ListgroupCommand(std::string_view group);
// "xover", or "xhdr <header>" for the header kinds; qkMessageID uses XHDR only when the
// server has it.
std::string RangeCommand(TQueueKind kind, uint32_t low, uint32_t high, bool useXhdr);
std::string ValidateCommand(uint32_t artNo);
std::string XpatCommand(std::string_view header, uint32_t low, uint32_t high, std::string_view pattern);
// "body <id>" or, for servers that want it, "article <id>".
std::string BodyCommand(std::string_view id, bool useArticle);

}  // namespace zev
