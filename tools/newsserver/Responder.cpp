#include "Responder.h"

#include <algorithm>
#include <chrono>

namespace zev::testserver {
namespace {

constexpr size_t kLargeWrite = 64 * 1024;
constexpr size_t kFlushAt = 256 * 1024;
constexpr std::string_view kTerminator = ".\r\n";

}  // namespace

void TResponder::SetFault(const FFault* fault) {
  fault_ = fault;
  held_.clear();
  dataSent_ = 0;
  resetArmed_ = fault && fault->kind == fkReset && fault->resetPoint == rpData;
  resetAt_ = resetArmed_ && fault->bytes != kAutoBytes ? fault->bytes : 0;
}

void TResponder::Abort(const std::string& event) {
  log_.Add(connection_, tkEvent, event);
  stream_.Reset();
  throw EConnectionGone(event);
}

void TResponder::Pause(int ms) {
  if (stop_.WaitFor(std::chrono::milliseconds(ms))) throw EConnectionGone("server stopping");
}

void TResponder::WriteNow(std::string_view a, std::string_view b, std::string_view c) {
  iovec parts[3];
  int count = 0;
  for (std::string_view piece : {a, b, c})
    if (!piece.empty()) parts[count++] = iovec{const_cast<char*>(piece.data()), piece.size()};
  if (count == 0) return;
  if (!stream_.WriteAll(parts, count)) throw EConnectionGone("write failed");
  bytesSent_ += a.size() + b.size() + c.size();
}

void TResponder::FlushPending() {
  WriteNow(pending_);
  pending_.clear();
}

void TResponder::Status(std::string_view status) {
  log_.Add(connection_, tkStatus, std::string(status));
  std::string line(status);
  line += "\r\n";
  if (fault_) Emit(line, false);
  else pending_ += line;
}

void TResponder::Line(std::string_view status) {
  Status(status);
  Finish(false);
}

void TResponder::MultiLine(std::string_view status, std::string_view data) {
  Status(status);
  if (!fault_) {
    WriteNow(pending_, data, kTerminator);
    pending_.clear();
    return;
  }
  Emit(data, true);
  Finish(true);
}

void TResponder::Begin(std::string_view status) { Status(status); }

void TResponder::Data(std::string_view data) {
  if (fault_) {
    Emit(data, true);
  } else if (data.size() >= kLargeWrite) {
    WriteNow(pending_, data);
    pending_.clear();
  } else {
    pending_ += data;
    if (pending_.size() >= kFlushAt) FlushPending();
  }
}

void TResponder::End() { Finish(true); }

void TResponder::Finish(bool multiLine) {
  if (!fault_) {
    if (multiLine) pending_ += kTerminator;
    FlushPending();
    return;
  }
  if (fault_->kind == fkSplitEnd) return FinishSplit(multiLine);
  if (resetArmed_)  // the answer was shorter than the cut: die before the terminator
    Abort("reset after " + std::to_string(dataSent_) + " data bytes, before the terminator");
  if (multiLine) Emit(kTerminator, false);
}

void TResponder::FinishSplit(bool multiLine) {
  std::string tail = held_ + (multiLine ? std::string(kTerminator) : std::string());
  held_.clear();
  // Offsets count within "\r\n.\r\n"; the held-back line end may be shorter for an
  // answer without data, so they are taken relative to the end.
  const int shift = static_cast<int>(tail.size()) - 5;
  size_t from = 0;
  std::vector<int> cuts = fault_->splits;
  std::sort(cuts.begin(), cuts.end());
  for (int cut : cuts) {
    const int at = std::clamp(cut + shift, 0, static_cast<int>(tail.size()));
    if (static_cast<size_t>(at) <= from) continue;
    WriteNow(std::string_view(tail).substr(from, static_cast<size_t>(at) - from));
    from = static_cast<size_t>(at);
    Pause(fault_->delayMs);
  }
  WriteNow(std::string_view(tail).substr(from));
  log_.Add(connection_, tkEvent, "terminator split");
}

void TResponder::Emit(std::string_view bytes, bool isData) {
  switch (fault_->kind) {
    case fkReset:
      return EmitReset(bytes, isData);
    case fkDrip:
      return EmitDrip(bytes);
    case fkSplitEnd: {
      // Everything but the last two bytes goes out now; those two and the terminator
      // form the tail that is cut as asked.
      held_ += bytes;
      if (held_.size() > 2) {
        WriteNow(std::string_view(held_).substr(0, held_.size() - 2));
        held_.erase(0, held_.size() - 2);
      }
      return;
    }
    default:
      return WriteNow(bytes);
  }
}

void TResponder::EmitReset(std::string_view bytes, bool isData) {
  if (fault_->resetPoint == rpStatus && !isData) {
    const uint64_t keep = std::min<uint64_t>(fault_->bytes == kAutoBytes ? 3 : fault_->bytes, bytes.size() - 1);
    WriteNow(bytes.substr(0, keep));
    Abort("reset after " + std::to_string(keep) + " bytes of the status line");
  }
  if (!isData || !resetArmed_) return WriteNow(bytes);
  if (resetAt_ == 0) resetAt_ = std::max<uint64_t>(1, bytes.size() / 2);
  if (dataSent_ + bytes.size() <= resetAt_) {
    dataSent_ += bytes.size();
    return WriteNow(bytes);
  }
  WriteNow(bytes.substr(0, resetAt_ - dataSent_));
  Abort("reset after " + std::to_string(resetAt_) + " data bytes");
}

void TResponder::EmitDrip(std::string_view bytes) {
  const size_t step = fault_->bytes == kAutoBytes || fault_->bytes == 0 ? 16 : fault_->bytes;
  for (size_t pos = 0; pos < bytes.size(); pos += step) {
    if (pos > 0 || bytesSent_ > 0) Pause(fault_->delayMs);
    WriteNow(bytes.substr(pos, step));
  }
}

}  // namespace zev::testserver
