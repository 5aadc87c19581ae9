#pragma once
// A stand-in for the download queue: a list of scripted commands that connections take one
// at a time, as the queue will hand them out. It is also the target of their responses,
// asks for the next command from the handler thread like the body handler does, and
// records what it got so that tests can check that each item was done once and only once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "db/Server.h"
#include "download/CommandSource.h"

namespace zev::test {

struct FStandInItem {
  std::string command;
  TDataMode mode = dmArticle;
  bool multiLine = true;
  uint64_t expected = 0;
  // Filled while running.
  enum { free, taken, done } state = free;
  int attempts = 0;
  int stored = 0;             // complete answers received
  uint16_t code = 0;          // status code of the last complete answer
  std::string statusLine;
  std::string data;           // its data, all blocks joined
  std::vector<TBlockType> blocks;  // the block types of the last answer
  bool sawPartial = false;    // a block arrived flagged as following a cut-short answer
};

class TStandInSource : public TCommandSource, public TResponseTarget {
 public:
  size_t Add(std::string command, TDataMode mode = dmArticle, bool multiLine = true, uint64_t expected = 0) {
    std::lock_guard lock(mutex_);
    FStandInItem item;
    item.command = std::move(command);
    item.mode = mode;
    item.multiLine = multiLine;
    item.expected = expected;
    items_.push_back(std::move(item));
    return items_.size() - 1;
  }

  void NextCommand(TConnectionFace& connection) override {
    std::unique_lock lock(mutex_);
    ++nextCalls_;
    if (connection.DisconnectRequest() != drNone) {
      connection.SetCurrentItem(nullptr);
      lock.unlock();
      connection.DisconnectNow();
      return;
    }
    FStandInItem* item = nullptr;
    for (FStandInItem& candidate : items_)
      if (candidate.state == FStandInItem::free) {
        item = &candidate;
        break;
      }
    connection.SetCurrentItem(Handle(item));
    if (!item) {
      lock.unlock();
      connection.SetReady();
      changed_.notify_all();
      return;
    }
    item->state = FStandInItem::taken;
    ++item->attempts;
    const FStandInItem copy = *item;
    lock.unlock();
    connection.StartCommand(this, copy.command, copy.mode, copy.expected, copy.multiLine);
  }

  void CommandFailed(TConnectionFace& connection) override {
    std::lock_guard lock(mutex_);
    ++failed_;
    Free(connection);
    changed_.notify_all();
  }

  void ReleaseItem(TConnectionFace& connection) override {
    std::lock_guard lock(mutex_);
    ++released_;
    Free(connection);
    changed_.notify_all();
  }

  bool WorkAvailable(TServer&) override {
    std::lock_guard lock(mutex_);
    ++workQuestions_;
    for (const FStandInItem& item : items_)
      if (item.state == FStandInItem::free) return true;
    return false;
  }

  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override {
    {
      std::lock_guard lock(mutex_);
      ++blockCount_;
      if (block.type == btFirst || block.type == btComplete) {
        collecting_[&connection].clear();
        types_[&connection].clear();
      }
      collecting_[&connection].append(block.data);
      types_[&connection].push_back(block.type);
      FStandInItem* item = Item(connection.CurrentItem());
      if (item && block.partial) item->sawPartial = true;
      if (block.type == btFirst || block.type == btMiddle) return;
      if (item && item->state == FStandInItem::taken) {
        item->state = FStandInItem::done;
        ++item->stored;
        item->code = block.code;
        item->statusLine = block.statusLine;
        item->data = collecting_[&connection];
        item->blocks = types_[&connection];
      }
      connection.SetCurrentItem(nullptr);
    }
    changed_.notify_all();
    // Like the body handler: the next command before the work on this one.
    NextCommand(connection);
  }

  // Waits until every item is done; false when the time ran out.
  bool WaitAllDone(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] {
      for (const FStandInItem& item : items_)
        if (item.state != FStandInItem::done) return false;
      return true;
    });
  }
  // Waits until the source was asked for work at least `n` times.
  bool WaitNextCalls(int n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return nextCalls_ >= n; });
  }

  FStandInItem ItemAt(size_t i) {
    std::lock_guard lock(mutex_);
    return items_[i];
  }
  int NextCalls() {
    std::lock_guard lock(mutex_);
    return nextCalls_;
  }
  int Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }

 private:
  // Items are handed to connections as opaque handles.
  TQueueItem* Handle(FStandInItem* item) { return reinterpret_cast<TQueueItem*>(item); }
  FStandInItem* Item(TQueueItem* handle) { return reinterpret_cast<FStandInItem*>(handle); }

  void Free(TConnectionFace& connection) {
    if (FStandInItem* item = Item(connection.CurrentItem()))
      if (item->state == FStandInItem::taken) item->state = FStandInItem::free;
    connection.SetCurrentItem(nullptr);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<FStandInItem> items_;  // a deque keeps item addresses stable
  std::map<TConnectionFace*, std::string> collecting_;
  std::map<TConnectionFace*, std::vector<TBlockType>> types_;
  int nextCalls_ = 0, failed_ = 0, released_ = 0, workQuestions_ = 0, blockCount_ = 0;
};

// The newsgroup list as the start-up conversation sees it.
class TRecordingFeed : public TNewsgroupFeed {
 public:
  TDateTime LastUpdate(const TServer&) override {
    std::lock_guard lock(mutex_);
    return lastUpdate_;
  }
  void SetLastUpdate(const TServer&, TDateTime localTime) override {
    std::lock_guard lock(mutex_);
    lastUpdate_ = localTime;
    ++updates_;
  }
  void HandleResponse(TConnectionFace&, const FResponseBlock& block) override {
    std::lock_guard lock(mutex_);
    data_.append(block.data);
    if (block.type == btLast || block.type == btComplete) data_ += "\n<end>";
  }
  void SetLast(TDateTime value) {
    std::lock_guard lock(mutex_);
    lastUpdate_ = value;
  }
  TDateTime Last() {
    std::lock_guard lock(mutex_);
    return lastUpdate_;
  }
  int Updates() {
    std::lock_guard lock(mutex_);
    return updates_;
  }
  std::string Data() {
    std::lock_guard lock(mutex_);
    return data_;
  }

 private:
  std::mutex mutex_;
  TDateTime lastUpdate_ = 0;
  int updates_ = 0;
  std::string data_;
};

}  // namespace zev::test
