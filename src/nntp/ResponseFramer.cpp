#include "nntp/ResponseFramer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zev {

uint16_t StatusCode(std::string_view statusLine) {
  if (statusLine.size() < 3) return 0;
  uint16_t code = 0;
  for (int i = 0; i < 3; ++i) {
    const char c = statusLine[i];
    if (c < '0' || c > '9') return 0;
    code = static_cast<uint16_t>(code * 10 + (c - '0'));
  }
  return code;
}

void TResponseFramer::Begin(bool multiLine, TDataMode mode, uint64_t expected) {
  mode_ = mode;
  multiLine_ = multiLine;
  statusKnown_ = complete_ = false;
  firstBlock_ = true;
  code_ = 0;
  statusLine_.clear();
  scanPos_ = lineStart_ = dataBegin_ = dataEnd_ = trailing_ = 0;
  size_t capacity = kStatusBufferSize;
  if (multiLine && mode == dmArticle)
    capacity = static_cast<size_t>(std::min<uint64_t>(expected, kMaxInitialArticle)) + kArticleSlack;
  else if (multiLine)
    capacity = kLineBufferSize;
  TakeBuffer(capacity);
}

void TResponseFramer::Recycle(TReceiveBuffer&& spare) {
  if (spare.Capacity() > spare_.Capacity()) spare_ = std::move(spare);
}

void TResponseFramer::TakeBuffer(size_t capacity) {
  buffer_.SetSize(0);
  if (buffer_.Capacity() >= capacity) return;
  if (spare_.Capacity() >= capacity) {
    std::swap(buffer_, spare_);
    buffer_.SetSize(0);
    return;
  }
  // A smaller buffer is given up rather than grown: growing would copy nothing useful.
  buffer_.Release();
  buffer_.Reserve(capacity);
}

TResponseFramer::TRoom TResponseFramer::MakeRoom() {
  if (buffer_.Free() >= std::min(kMinRead, buffer_.Capacity() / 2) && buffer_.Free() > 0) return rmReady;
  const bool wholeLinesWaiting = statusKnown_ && lineStart_ > dataBegin_;
  if (mode_ != dmArticle && wholeLinesWaiting) return rmLinesDue;
  return Grow() ? rmReady : rmTooLarge;
}

bool TResponseFramer::Grow() {
  const size_t capacity = buffer_.Capacity();
  if (capacity >= kMaxBuffer) return false;
  // Doubling keeps the copies of a large article to about its own size in total.
  size_t wanted = std::max({capacity * 2, capacity + kArticleSlack, kStatusBufferSize});
  buffer_.Reserve(std::min(wanted, kMaxBuffer));
  return true;
}

TResponseFramer::FProgress TResponseFramer::Commit(size_t n) {
  buffer_.SetSize(buffer_.Size() + n);
  FProgress progress;
  if (!statusKnown_) {
    const char* base = buffer_.Data();
    const size_t size = buffer_.Size();
    const void* nl = std::memchr(base + scanPos_, '\n', size - scanPos_);
    if (!nl) {
      scanPos_ = size;
      progress.tooLarge = size > kMaxStatusLine;
      return progress;
    }
    const size_t lineEnd = static_cast<size_t>(static_cast<const char*>(nl) - base) + 1;
    if (lineEnd > kMaxStatusLine + 1) {
      progress.tooLarge = true;
      return progress;
    }
    ParseStatusLine(lineEnd);
    progress.statusLine = true;
    lineStart_ = dataBegin_ = lineEnd;
    if (!multiLine_) {
      Finish(lineEnd, lineEnd);
      progress.complete = true;
      return progress;
    }
  }
  ScanLines(progress);
  return progress;
}

void TResponseFramer::ParseStatusLine(size_t lineEnd) {
  size_t end = lineEnd - 1;
  if (end > 0 && buffer_.Data()[end - 1] == '\r') --end;
  statusLine_.assign(buffer_.Data(), end);
  code_ = StatusCode(statusLine_);
  statusKnown_ = true;
  // An error (or a line that is no answer at all) never carries data.
  if (code_ >= 400 || code_ == 0) multiLine_ = false;
}

void TResponseFramer::ScanLines(FProgress& progress) {
  const char* base = buffer_.Data();
  const size_t size = buffer_.Size();
  while (lineStart_ < size) {
    const char* start = base + lineStart_;
    const void* nl = std::memchr(start, '\n', size - lineStart_);
    if (!nl) return;
    const size_t lineEnd = static_cast<size_t>(static_cast<const char*>(nl) - base) + 1;
    const size_t length = lineEnd - lineStart_;
    // The end is a line holding a single dot. A bare LF after it is accepted too: no
    // dot-stuffed data line can look like that either.
    if (start[0] == '.' && (length == 2 || (length == 3 && start[1] == '\r'))) {
      Finish(lineStart_, lineEnd);
      progress.complete = true;
      return;
    }
    lineStart_ = lineEnd;
    ++progress.lines;
  }
}

void TResponseFramer::Finish(size_t terminatorStart, size_t terminatorEnd) {
  const char* base = buffer_.Data();
  dataEnd_ = terminatorStart;
  if (dataEnd_ > dataBegin_ && base[dataEnd_ - 1] == '\n') --dataEnd_;
  if (dataEnd_ > dataBegin_ && base[dataEnd_ - 1] == '\r') --dataEnd_;
  trailing_ = buffer_.Size() - terminatorEnd;
  buffer_.SetSize(terminatorEnd);
  lineStart_ = terminatorEnd;
  complete_ = true;
}

FFramedBlock TResponseFramer::TakeLines() {
  FFramedBlock block;
  block.type = firstBlock_ ? btFirst : btMiddle;
  block.dataBegin = dataBegin_;
  block.dataEnd = lineStart_;
  const size_t rest = buffer_.Size() - lineStart_;
  const size_t capacity = std::max(buffer_.Capacity(), rest + kMinRead);
  TReceiveBuffer next;
  if (spare_.Capacity() >= capacity) next = std::move(spare_);
  else next.Reserve(capacity);
  std::memcpy(next.Data(), buffer_.Data() + lineStart_, rest);
  next.SetSize(rest);
  block.buffer = std::move(buffer_);
  buffer_ = std::move(next);
  lineStart_ = dataBegin_ = scanPos_ = 0;
  firstBlock_ = false;
  return block;
}

void TResponseFramer::DropLines() {
  const size_t rest = buffer_.Size() - lineStart_;
  std::memmove(buffer_.Data(), buffer_.Data() + lineStart_, rest);
  buffer_.SetSize(rest);
  lineStart_ = dataBegin_ = scanPos_ = 0;
  firstBlock_ = false;
}

FFramedBlock TResponseFramer::TakeFinal() {
  FFramedBlock block;
  block.type = firstBlock_ ? btComplete : btLast;
  block.dataBegin = dataBegin_;
  block.dataEnd = dataEnd_;
  block.buffer = std::move(buffer_);
  buffer_ = TReceiveBuffer();
  return block;
}

}  // namespace zev
