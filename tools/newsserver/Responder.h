#pragma once
// Sends a session's answers and, when a fault is armed for the current command, bends
// them: cuts them off with a reset, trickles them, or splits the terminator.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FaultPlan.h"
#include "ServerStream.h"
#include "StopSignal.h"
#include "TranscriptLog.h"

namespace zev::testserver {

// The connection is over: a write failed, a fault cut it, or the server is stopping.
class EConnectionGone : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TResponder {
 public:
  TResponder(TServerStream& stream, TTranscriptLog& log, uint32_t connection, const TStopSignal& stop)
      : stream_(stream), log_(log), connection_(connection), stop_(stop) {}

  // Arms a fault for the next answer; nullptr disarms.
  void SetFault(const FFault* fault);

  // A single-line answer.
  void Line(std::string_view status);
  // A multi-line answer whose whole data is at hand (an article): one large write.
  void MultiLine(std::string_view status, std::string_view data);
  // A multi-line answer made in pieces: Begin, Data..., End. Data must be dot-stuffed
  // CRLF lines.
  void Begin(std::string_view status);
  void Data(std::string_view data);
  void End();

  uint64_t BytesSent() const { return bytesSent_; }

 private:
  void Status(std::string_view status);
  void WriteNow(std::string_view a, std::string_view b = {}, std::string_view c = {});
  void FlushPending();
  void Emit(std::string_view bytes, bool isData);
  void EmitReset(std::string_view bytes, bool isData);
  void EmitDrip(std::string_view bytes);
  void Finish(bool multiLine);
  void FinishSplit(bool multiLine);
  [[noreturn]] void Abort(const std::string& event);
  void Pause(int ms);

  TServerStream& stream_;
  TTranscriptLog& log_;
  uint32_t connection_;
  const TStopSignal& stop_;
  const FFault* fault_ = nullptr;
  std::string pending_;
  std::string held_;        // fkSplitEnd: the last bytes, kept back for the tail
  uint64_t dataSent_ = 0;
  uint64_t resetAt_ = 0;    // fkReset rpData: data bytes after which the connection dies
  bool resetArmed_ = false;
  uint64_t bytesSent_ = 0;
};

}  // namespace zev::testserver
