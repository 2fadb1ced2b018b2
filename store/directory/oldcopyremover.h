// Removing the old copies that saves leave behind, on a thread of its own, so that the
// program goes on as soon as the new configuration is in place.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "store/directory/directorysave.h"

namespace directory {

// Removes old copies (RemoveOldCopy) one after the other on one thread. Destroying it
// cancels the removal under way and drops the rest (they keep their marked names for a
// later save to remove).
class OldCopyRemover {
 public:
  // What a removal has to say (warning 62139 when a copy stayed) goes to `tell`, called on
  // the remover's thread; empty: nowhere.
  using Tell = std::function<void(const msg::Problems&)>;
  explicit OldCopyRemover(Tell tell = {}) : tell_(std::move(tell)) {}
  ~OldCopyRemover();
  OldCopyRemover(const OldCopyRemover&) = delete;
  OldCopyRemover& operator=(const OldCopyRemover&) = delete;

  // Queues `copy` (nothing when it names nothing to remove); the thread starts on first
  // use.
  void Add(OldCopy copy);
  // True while a removal runs or waits.
  bool Busy() const;
  // Waits until nothing runs or waits, at most `limit`; true when idle.
  bool WaitIdle(std::chrono::milliseconds limit);
  // Ends the removal under way within about 100 ms and drops the waiting ones.
  void Cancel();

 private:
  void Work();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<OldCopy> queue_;
  bool running_ = false;  // a removal is under way
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  Tell tell_;
  std::thread thread_;
};

}  // namespace directory
