#pragma once
// The yardstick for the program's NNTP client: connects, asks for article bodies (or
// overview ranges) over one or more connections, pipelined or one at a time, and only
// finds where each answer ends before throwing the bytes away. What it reaches is the
// most any client can reach against the same server in the same run.
#include <cstdint>
#include <string>

namespace zev::bench {

struct FMinimalClientOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 119;
  int connections = 1;
  std::string group;
  uint64_t first = 1;               // article numbers the requests cycle through
  uint64_t last = 1;
  uint64_t totalBytes = 1ull << 30; // stop asking once this much has arrived (all connections)
  uint64_t requests = 0;            // requests per connection, 0 for as many as totalBytes takes
  int pipeline = 1;                 // requests in flight per connection
  std::string command = "BODY";     // BODY, ARTICLE, HEAD or XOVER
  uint64_t xoverChunk = 10000;      // articles per XOVER request
  std::string user, password;       // AUTHINFO when not empty
};

struct FMinimalClientResult {
  uint64_t bytes = 0;       // received, status lines included
  uint64_t responses = 0;
  double seconds = 0;       // wall clock from the first connect to the last answer
  double cpuSeconds = 0;    // CPU time of the client threads only
  std::string error;        // empty when every connection finished cleanly
  double MBps() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
  double CpuSecondsPerGB() const { return bytes ? cpuSeconds * 1e9 / bytes : 0; }
};

FMinimalClientResult RunMinimalClient(const FMinimalClientOptions& options);

}  // namespace zev::bench
