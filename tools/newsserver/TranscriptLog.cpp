#include "TranscriptLog.h"

#include <cstdio>
#include <fstream>

namespace zev::testserver {

std::vector<std::string> FTranscript::Commands() const {
  std::vector<std::string> out;
  for (const FTranscriptLine& line : lines)
    if (line.kind == tkCommand) out.push_back(line.text);
  return out;
}

std::vector<std::string> FTranscript::Statuses() const {
  std::vector<std::string> out;
  for (const FTranscriptLine& line : lines)
    if (line.kind == tkStatus) out.push_back(line.text);
  return out;
}

std::string FTranscript::Text() const {
  static constexpr const char* kPrefix[] = {"< ", "> ", "! "};
  std::string out;
  for (const FTranscriptLine& line : lines) out += kPrefix[line.kind] + line.text + "\n";
  return out;
}

void TTranscriptLog::Configure(std::string directory, bool keepInMemory) {
  std::lock_guard lock(mutex_);
  directory_ = std::move(directory);
  keepInMemory_ = keepInMemory;
}

void TTranscriptLog::Open(uint32_t connection, bool tls, std::string peer) {
  {
    std::lock_guard lock(mutex_);
    FTranscript& t = transcripts_[connection];
    t.connection = connection;
    t.tls = tls;
    t.peer = std::move(peer);
  }
  changed_.notify_all();
}

void TTranscriptLog::Add(uint32_t connection, TTranscriptKind kind, std::string text) {
  {
    std::lock_guard lock(mutex_);
    transcripts_[connection].lines.push_back(FTranscriptLine{kind, std::move(text)});
  }
  changed_.notify_all();
}

void TTranscriptLog::Close(uint32_t connection) {
  {
    std::lock_guard lock(mutex_);
    auto it = transcripts_.find(connection);
    if (it == transcripts_.end()) return;
    it->second.closed = true;
    if (!directory_.empty()) WriteFile(it->second);
    if (!keepInMemory_) transcripts_.erase(it);
  }
  changed_.notify_all();
}

void TTranscriptLog::WriteFile(const FTranscript& t) const {
  char name[32];
  std::snprintf(name, sizeof name, "/conn-%04u.txt", t.connection);
  std::ofstream out(directory_ + name, std::ios::binary | std::ios::trunc);
  out << "# connection " << t.connection << " from " << t.peer << (t.tls ? " (TLS)" : "") << "\n" << t.Text();
}

std::vector<FTranscript> TTranscriptLog::Snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<FTranscript> out;
  for (const auto& [n, t] : transcripts_) out.push_back(t);
  return out;
}

bool TTranscriptLog::WaitUntil(const std::function<bool(const std::vector<FTranscript>&)>& done,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    std::vector<FTranscript> all;
    for (const auto& [n, t] : transcripts_) all.push_back(t);
    return done(all);
  });
}

void TTranscriptLog::Clear() {
  std::lock_guard lock(mutex_);
  transcripts_.clear();
}

}  // namespace zev::testserver
