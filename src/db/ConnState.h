#pragma once
// The state of a connection slot, shown in the server tree and the status bar. A news
// server node carries the aggregate state of its slots.
#include <cstdint>
#include <initializer_list>

namespace zev {

enum TConnState : uint8_t {
  csIdle = 0,
  csConnected = 1,
  csModeReader = 2,
  csAuthUser = 3,
  csAuthPass = 4,
  csCheckCommands = 5,
  csNewsgroups = 6,
  csDate = 7,
  csGroup = 8,
  csHeaders = 9,
  csArticle = 10,
  csReady = 11,
  csError = 12,
  csConnecting = 13,
  csUserDisconnected = 14,
  csRetrying = 15,
};
constexpr int kConnStateCount = 16;

// The status text of a state, untranslated ("" for csIdle); callers pass it through Tr().
const char* ConnStateText(TConnState state);

// A set of states as a bit mask.
class TConnStateSet {
 public:
  constexpr TConnStateSet(std::initializer_list<TConnState> states) {
    for (TConnState s : states) bits_ |= 1u << s;
  }
  constexpr bool Contains(uint8_t state) const { return state < kConnStateCount && (bits_ >> state & 1u); }
  constexpr TConnStateSet Without(TConnState s) const { return TConnStateSet(bits_ & ~(1u << s)); }

 private:
  constexpr explicit TConnStateSet(uint32_t bits) : bits_(bits) {}
  uint32_t bits_ = 0;
};

// The slot has a live thread that is doing something.
constexpr TConnStateSet kBusyStates{csConnected, csModeReader, csAuthUser,  csAuthPass,   csCheckCommands, csNewsgroups,
                                    csDate,      csGroup,      csHeaders,   csArticle,    csConnecting,    csRetrying};
// Alive, but neither receiving headers nor an article.
constexpr TConnStateSet kAliveIdleStates{csConnected, csModeReader, csAuthUser, csAuthPass,   csCheckCommands,
                                         csNewsgroups, csDate,      csGroup,    csReady,      csConnecting,
                                         csRetrying};
// A slot in one of these states may be deleted (when no connection is attached to it).
constexpr TConnStateSet kRemovableStates{csIdle,       csConnected,        csReady,   csError,
                                         csConnecting, csUserDisconnected, csRetrying};
// "Live" slots (state none of csIdle, csReady, csError, csUserDisconnected) are exactly the
// busy ones.
constexpr TConnStateSet kLiveStates = kBusyStates;

}  // namespace zev
