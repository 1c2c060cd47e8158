// tQV_LogThread: drains a log writer's queue of stamped lines into its file, in order, off
// the caller's thread. Internal to the log writer; one implementation per platform
// (log_thread_posix.cc, log_thread_win.cc).
#ifndef QVPA_BASE_LOG_THREAD_H_
#define QVPA_BASE_LOG_THREAD_H_

#include <memory>
#include <string>

namespace qvpa {

class tQV_LogWriter;

class tQV_LogThread {
 public:
  // Throws std::system_error when no thread can be started.
  explicit tQV_LogThread(tQV_LogWriter& aWriter);
  // Returns once every queued line has been written (or has failed its attempts).
  ~tQV_LogThread();
  tQV_LogThread(const tQV_LogThread&) = delete;
  tQV_LogThread& operator=(const tQV_LogThread&) = delete;

  void Push(std::u16string aLine);

 private:
  struct State;

  // The writer's file append, which the writer opens to this class only.
  static void WriteLine(tQV_LogWriter& aWriter, const std::u16string& aLine);

  std::unique_ptr<State> state_;
};

}  // namespace qvpa

#endif  // QVPA_BASE_LOG_THREAD_H_
