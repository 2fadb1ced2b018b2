#include "store/directory/oldcopyremover.h"

#include <utility>

namespace directory {

OldCopyRemover::~OldCopyRemover() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  cancel_ = true;
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void OldCopyRemover::Add(OldCopy copy) {
  if (copy.dn.empty() && copy.leftoversOf.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(copy));
    if (!thread_.joinable()) thread_ = std::thread([this] { Work(); });
  }
  changed_.notify_all();
}

bool OldCopyRemover::Busy() const {
  std::lock_guard lock(mutex_);
  return running_ || !queue_.empty();
}

bool OldCopyRemover::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return !running_ && queue_.empty(); });
}

void OldCopyRemover::Cancel() {
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
    if (running_) cancel_ = true;
  }
  changed_.notify_all();
}

void OldCopyRemover::Work() {
  // Every wait of this thread on the server asks the flag.
  ldapx::CancelScope scope([this] { return cancel_.load(); });
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    OldCopy copy = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    cancel_ = false;
    lock.unlock();
    const msg::Result removed = RemoveOldCopy(copy);
    if (tell_ && !removed.problems.empty()) tell_(removed.problems);
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

}  // namespace directory
