#pragma once
// What each connection received and answered, for tests to assert on: the commands as
// sent, the status lines (not the data) and events such as injected faults.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zev::testserver {

enum TTranscriptKind { tkCommand, tkStatus, tkEvent };

struct FTranscriptLine {
  TTranscriptKind kind;
  std::string text;
};

struct FTranscript {
  uint32_t connection = 0;  // 1-based, in order of acceptance
  bool tls = false;
  std::string peer;         // "127.0.0.1:port" or "[::1]:port"
  bool closed = false;
  std::vector<FTranscriptLine> lines;

  std::vector<std::string> Commands() const;
  std::vector<std::string> Statuses() const;
  // "< " before commands, "> " before status lines, "! " before events; one per line.
  std::string Text() const;
};

class TTranscriptLog {
 public:
  // With a directory, each connection's transcript is written to "conn-NNNN.txt" there when
  // it closes. Without keepInMemory only the files are kept (a long-running demo server).
  void Configure(std::string directory, bool keepInMemory);

  void Open(uint32_t connection, bool tls, std::string peer);
  void Add(uint32_t connection, TTranscriptKind kind, std::string text);
  void Close(uint32_t connection);

  std::vector<FTranscript> Snapshot() const;
  // Waits until `done` holds for the transcripts or the time is up; returns whether it held.
  bool WaitUntil(const std::function<bool(const std::vector<FTranscript>&)>& done,
                 std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  void WriteFile(const FTranscript& transcript) const;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<uint32_t, FTranscript> transcripts_;
  std::string directory_;
  bool keepInMemory_ = true;
};

}  // namespace zev::testserver
