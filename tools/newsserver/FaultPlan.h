#pragma once
// Faults a test arranges for chosen commands and connections: the server misbehaves the
// way real providers do (drops, resets, stalls, trickles, error codes, awkwardly cut
// terminators) so that a client's recovery can be checked.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zev::testserver {

enum TFaultKind {
  fkClose,        // close without answering (at CONNECT: accept, then close)
  fkReset,        // send part of the answer, then reset the connection (RST)
  fkSilent,       // never answer again; keep reading until the client goes
  fkDrip,         // send the answer a few bytes at a time
  fkError,        // answer with an error status instead
  fkSplitEnd,     // send the final "\r\n.\r\n" in separate segments
};

// Cut points of fkReset.
enum TResetPoint {
  rpStatus,       // after `bytes` bytes of the status line (default 3: just the code)
  rpData,         // after `bytes` bytes of the data (default: half of the first block)
};

constexpr uint64_t kAutoBytes = ~0ull;

struct FFault {
  std::string command = "*";  // upper-case verb, "CONNECT" for the greeting, "*" for any command
  uint32_t connection = 0;    // 1-based number of the connection, 0 for every connection
  uint32_t skip = 0;          // matching occasions to let pass first
  uint32_t times = 0;         // how often it fires; 0 for always
  TFaultKind kind = fkClose;
  TResetPoint resetPoint = rpData;
  uint64_t bytes = kAutoBytes;  // fkReset: cut position; fkDrip: bytes per write (default 16)
  int code = 0;               // fkError
  std::string text;           // fkError; empty for the usual text of the code
  int delayMs = 20;           // fkDrip: pause between writes; fkSplitEnd: between segments
  // fkSplitEnd: cut positions within the 5-byte tail "\r\n.\r\n" (0..5); {2} sends the
  // data up to its last line end, then ".\r\n" alone.
  std::vector<int> splits = {2};
};

// The usual status text of an error code, e.g. "No such article" for 430.
std::string DefaultErrorText(int code);

// Parses "VERB:KIND[=ARG][,key=value...]", e.g. "BODY:reset-data,bytes=1000,conn=1,times=1",
// "CONNECT:error=400", "XOVER:split=1/3", "GROUP:drip,bytes=4,delay=50", "*:silent".
// Kinds: close, reset-status, reset-data, silent, drip, error=CODE[/TEXT], split=OFF[/OFF...].
// Keys: conn, skip, times, bytes, delay.
bool ParseFault(std::string_view description, FFault& out, std::string& error);

class TFaultPlan {
 public:
  void Add(const FFault& fault);
  void Clear();
  // The fault that fires for this command on this connection, if any; counts the occasion.
  std::optional<FFault> Take(std::string_view command, uint32_t connection);

 private:
  struct FRule {
    FFault fault;
    uint32_t seen = 0;
    uint32_t fired = 0;
  };
  std::mutex mutex_;
  std::vector<FRule> rules_;
};

}  // namespace zev::testserver
