#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/log_thread.h"
#include "base/log_writer.h"

namespace qvpa {

// One thread for the writer's life: woken when a line arrives or when told to stop, it
// ends only once the queue is empty.
struct tQV_LogThread::State {
  explicit State(tQV_LogWriter& aWriter) : fWriter(aWriter), thread_([this] { Execute(); }) {}

  void Execute() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return terminated_ || !fQueue.empty(); });
      if (fQueue.empty()) return;  // told to stop and nothing left
      // Take the head without removing it, write it unlocked, then remove it whatever the outcome.
      std::u16string line = fQueue.front();
      lock.unlock();
      WriteLine(fWriter, line);
      lock.lock();
      fQueue.pop_front();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::u16string> fQueue;  // guarded by mutex_
  bool terminated_ = false;           // guarded by mutex_
  tQV_LogWriter& fWriter;
  std::thread thread_;  // last: starts once everything above is ready
};

tQV_LogThread::tQV_LogThread(tQV_LogWriter& aWriter) : state_(std::make_unique<State>(aWriter)) {}

// Tells the thread to stop and waits until it has written every queued line and ended.
tQV_LogThread::~tQV_LogThread() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex_);
    state_->terminated_ = true;
  }
  state_->wake_.notify_one();
  state_->thread_.join();
}

void tQV_LogThread::Push(std::u16string aLine) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex_);
    state_->fQueue.push_back(std::move(aLine));
  }
  state_->wake_.notify_one();
}

void tQV_LogThread::WriteLine(tQV_LogWriter& aWriter, const std::u16string& aLine) {
  aWriter.WriteToFile(aLine);
}

}  // namespace qvpa
