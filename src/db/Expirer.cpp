#include "db/Expirer.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/Error.h"
#include "core/Log.h"
#include <algorithm>

namespace zev {

TExpirer* gExpirer = nullptr;

TExpirer::TExpirer(std::string fileName) : fileName_(std::move(fileName)) {
  file_ = TFileHandle(fileName_, O_RDWR | O_CREAT);
  // A torn last entry (a crash while appending) is dropped rather than read as an offset.
  uint64_t size = file_.Size();
  written_ = size / 4;
  if (size % 4) file_.Truncate(written_ * 4);
  buffer_.reserve(kBufferEntries);
}

TExpirer::~TExpirer() {
  try {
    std::lock_guard lock(lock_);
    if (!readMode_) WriteBuffer();
    bool empty = written_ == 0;
    file_.Close();
    if (empty) ::unlink(fileName_.c_str());
  } catch (const std::exception& e) {
    LogException(e, "TExpirer.Destroy");
  }
}

void TExpirer::WriteBuffer() {
  if (buffer_.empty()) return;
  file_.WriteAt(written_ * 4, buffer_.data(), buffer_.size() * 4);
  written_ += buffer_.size();
  buffer_.clear();
}

void TExpirer::Add(TArticleOffset offset) {
  std::lock_guard lock(lock_);
  buffer_.push_back(offset);
  if (buffer_.size() >= kBufferEntries && !readMode_) WriteBuffer();
}

void TExpirer::BeginRead() {
  lock_.lock();
  try {
    WriteBuffer();
  } catch (...) {
    lock_.unlock();
    throw;
  }
  readMode_ = true;
  readPos_ = 0;
  readIndex_ = 0;
  readBuffer_.clear();
}

TArticleOffset TExpirer::Next() {
  std::lock_guard lock(lock_);
  if (!readMode_) throw EZevError("TExpirer Attempt to read when not in read mode.");
  for (;;) {
    if (readIndex_ >= readBuffer_.size()) {
      readIndex_ = 0;
      readBuffer_.clear();
      if (readPos_ >= written_) return 0;
      size_t n = static_cast<size_t>(std::min<uint64_t>(kBufferEntries, written_ - readPos_));
      readBuffer_.resize(n);
      size_t got = file_.ReadAt(readPos_ * 4, readBuffer_.data(), n * 4) / 4;
      readBuffer_.resize(got);
      readPos_ += n;
      if (got == 0) return 0;
    }
    TArticleOffset offset = readBuffer_[readIndex_++];
    if (offset > 16) return offset;  // never a record; a damaged entry is passed over
  }
}

void TExpirer::EndRead() {
  std::lock_guard lock(lock_);
  if (!readMode_) throw EZevError("TExpirer attempt to exit read mode when not in read mode.");
  lock_.unlock();  // the level BeginRead took; `lock` keeps the list until we return
  readMode_ = false;
  readBuffer_.clear();
  readIndex_ = 0;
  written_ = 0;
  file_.Truncate(0);
  // Offsets added during the run (buffer_) are work for the next one.
}

void TExpirer::AbortRead() {
  std::lock_guard lock(lock_);
  if (!readMode_) return;
  readMode_ = false;
  readBuffer_.clear();
  readIndex_ = 0;
  lock_.unlock();
}

void TExpirer::Clear() {
  std::lock_guard lock(lock_);
  buffer_.clear();
  readIndex_ = 0;
  file_.Truncate(0);
  written_ = 0;
}

uint64_t TExpirer::Count() {
  std::lock_guard lock(lock_);
  return written_ + (readMode_ ? 0 : buffer_.size());
}

}  // namespace zev
