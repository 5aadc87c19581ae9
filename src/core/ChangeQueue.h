#pragma once
// Change notifications from engine threads to the user-interface thread.
//
// Engine threads never touch widgets or the trees the user-interface thread owns. When a
// connection or a handler finds that something there has to change (a surplus connection
// slot to remove, a row to repaint), it posts a note here; the main window's timer drains
// the queue and acts on each note on its own thread.
//
// A note names its subject by address only. The draining side must find the subject in its
// own structures before it touches it (a node may have been freed since the note was
// posted), so a stale note is harmless.
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace zev {

enum class TChange : uint16_t {
  // A news server has more connection slots than its MaxConn allows and a surplus
  // connection has ended: remove the slots that are idle now (subject: the TServer).
  SurplusSlots = 1,
};

struct FChangeNote {
  TChange what;
  const void* subject = nullptr;
  uint64_t value = 0;

  bool operator==(const FChangeNote&) const = default;
};

class TChangeQueue {
 public:
  // Any thread. A note equal to one still waiting is not added twice.
  void Post(const FChangeNote& note) {
    std::lock_guard lock(lock_);
    for (const FChangeNote& waiting : notes_)
      if (waiting == note) return;
    notes_.push_back(note);
  }

  // The user-interface thread: every waiting note, oldest first.
  std::vector<FChangeNote> Drain() {
    std::lock_guard lock(lock_);
    return std::exchange(notes_, {});
  }

  size_t Pending() const {
    std::lock_guard lock(lock_);
    return notes_.size();
  }

 private:
  mutable std::mutex lock_;
  std::vector<FChangeNote> notes_;
};

// Created by start-up; tests set it to one of their own.
inline TChangeQueue* gChangeQueue = nullptr;

}  // namespace zev
