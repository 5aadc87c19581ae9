#pragma once
// The kinds of server-tree nodes, the server modes and the bits of a node's Flags. The
// bit numbers are stored in the settings file and map one to one to the check boxes of
// the server dialog.
#include <cstdint>

namespace zev {

enum TServerNodeType : uint8_t { snRoot = 0, snFolder = 1, snNewsServer = 2, snSlot = 3 };

enum TServerMode : uint32_t { smNormal = 0, smHeaders = 1, smArticles = 2, smDormant = 3 };

enum TServerFlag : int {
  sfNeedAuth = 0,
  sfAlways = 1,
  sfWhenOnline = 2,
  sfAutoRetry = 3,
  sfNegPreference = 4,  // derived: Preference < 0
  sfPosPreference = 5,  // derived: Preference > 0
  sfByMessageID = 6,
  sfExpanded = 7,
  sfInherit = 8,
  sfXHDR = 9,
  sfXHDRLines = 10,
  sfARTICLE = 11,
  sfLog = 12,
  sfConnectOnDemand = 13,
  sfHeaderLimit = 14,
  sfRetryAnyError = 15,
  sfCryptPass = 16,  // the password is stored scrambled (not encrypted) in the settings file
  sfBandwidth = 17,
  sfDailyShowArticles = 18,
  sfDailyShowHeaders = 19,
  sfMonthlyShowArticles = 20,
  sfMonthlyShowHeaders = 21,
  sfDailyLimit = 22,
  sfMonthlyLimit = 23,
  sfParallelConnects = 25,
  sfSkipGroup = 26,
  sfSkipListgroup = 27,
  sfAutoDial = 28,
  sfChunks = 29,
};

constexpr uint32_t ServerFlagBit(TServerFlag f) { return 1u << f; }

// Bits a node keeps as its own when it takes over its parent's settings: login, expanded
// state, logging, password storage, and the inheritance itself.
constexpr uint32_t kOwnServerFlags = ServerFlagBit(sfNeedAuth) | ServerFlagBit(sfExpanded) |
                                     ServerFlagBit(sfInherit) | ServerFlagBit(sfLog) | ServerFlagBit(sfCryptPass);

}  // namespace zev
