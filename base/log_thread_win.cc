// The log thread on Windows, safe when the host unloads the library without closing it.
//
// A thread of ours must never run our code once the library is unmapped, and the library's
// unload notification (where statics and forgotten devices are destroyed) runs under the
// loader lock, where joining a thread deadlocks. So a drain thread exists only while lines
// are queued: it takes its own reference on the module when started, writes until the queue
// is empty, and leaves through FreeLibraryAndExitThread, which never returns into our code.
// While any line is queued the module therefore stays loaded; when the unload notification
// runs, no drain thread is in our code and nothing is left to write. A later line starts a
// new drain thread. Once DllMain reports the unload (the loader lock is held: a new thread
// could not start and waiting for one would deadlock), lines logged while devices are torn
// down are written synchronously, as are lines left by a thread the system killed at
// process exit.
#include <windows.h>

#include <deque>
#include <mutex>
#include <system_error>

#include "base/log_thread.h"
#include "base/log_writer.h"
#include "base/module_win.h"

namespace qvpa {

struct tQV_LogThread::State {
  explicit State(tQV_LogWriter& aWriter) : fWriter(aWriter) {}

  // Writes the queue's head, unlocked, until the queue is empty; `lock` holds mutex_.
  void DrainLocked(std::unique_lock<std::mutex>& lock) {
    while (!fQueue.empty()) {
      std::u16string line = fQueue.front();
      lock.unlock();
      WriteLine(fWriter, line);
      lock.lock();
      fQueue.pop_front();
    }
  }

  // Called with mutex_ held: starts a drain thread unless one is running.
  void StartLocked() {
    if (running_) return;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ThreadMain), &module)) {
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    }
    module_ = module;
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr);
    if (thread == nullptr) {
      const DWORD error = GetLastError();
      FreeLibrary(module);
      throw std::system_error(static_cast<int>(error), std::system_category());
    }
    if (thread_ != nullptr) CloseHandle(thread_);
    thread_ = thread;
    running_ = true;
  }

  static DWORD WINAPI ThreadMain(void* aState) {
    auto* state = static_cast<State*>(aState);
    const HMODULE module = state->module_;
    {
      std::unique_lock<std::mutex> lock(state->mutex_);
      state->DrainLocked(lock);
      // From here on the state may be destroyed at any moment: only locals are used.
      state->running_ = false;
    }
    FreeLibraryAndExitThread(module, 0);
  }

  std::mutex mutex_;
  std::deque<std::u16string> fQueue;  // guarded by mutex_
  bool running_ = false;              // a drain thread holds a module reference; guarded by mutex_
  HMODULE module_ = nullptr;          // guarded by mutex_
  HANDLE thread_ = nullptr;           // the latest drain thread; guarded by mutex_
  tQV_LogWriter& fWriter;
};

tQV_LogThread::tQV_LogThread(tQV_LogWriter& aWriter) : state_(std::make_unique<State>(aWriter)) {}

tQV_LogThread::~tQV_LogThread() {
  HANDLE thread = nullptr;
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex_);
    thread = state_->thread_;
    running = state_->running_;
  }
  // A running drain thread holds a module reference, so outside the unload notification
  // waiting for it is safe; during the unload it is gone, or was killed with the process.
  if (running && !platform::ModuleUnloading()) WaitForSingleObject(thread, INFINITE);
  std::unique_lock<std::mutex> lock(state_->mutex_);
  state_->DrainLocked(lock);
  if (thread != nullptr) CloseHandle(thread);
}

void tQV_LogThread::Push(std::u16string aLine) {
  std::unique_lock<std::mutex> lock(state_->mutex_);
  state_->fQueue.push_back(std::move(aLine));
  if (platform::ModuleUnloading()) {
    state_->DrainLocked(lock);
  } else {
    state_->StartLocked();
  }
}

void tQV_LogThread::WriteLine(tQV_LogWriter& aWriter, const std::u16string& aLine) {
  aWriter.WriteToFile(aLine);
}

}  // namespace qvpa
