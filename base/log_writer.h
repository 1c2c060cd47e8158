// tQV_LogWriter appends time-stamped lines to one log file through its own thread.
// Write() stamps and queues the line and returns at once; it may be called from any
// thread. Lines reach the file in call order; the destructor returns only after every
// queued line has been written (or has failed its attempts) and the thread has ended.
// Nothing that fails on the log thread is reported to callers.
#ifndef QVPA_BASE_LOG_WRITER_H_
#define QVPA_BASE_LOG_WRITER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/message_type.h"

namespace qvpa {

class tQV_LogThread;

class tQV_LogWriter {
 public:
  // aFileName is a bare name without extension; the file is aFileName.log, or
  // aFileName_yyyymmdd.log with the creation date when aDaily. Creates aDirectory (with
  // parents) and starts the thread. Throws EQVError when aDirectory is empty; a directory
  // that cannot be created is not an error here (every line then fails and is dropped).
  // aMaxMessageLength > 0 cuts messages to that many UTF-16 code units.
  tQV_LogWriter(std::u16string aFileName, std::u16string aDirectory, int32_t aMaxMessageLength,
                bool aDaily);
  ~tQV_LogWriter();
  tQV_LogWriter(const tQV_LogWriter&) = delete;
  tQV_LogWriter& operator=(const tQV_LogWriter&) = delete;

  // Queues "yyyy-mm-dd hh:mm:ss:zzz - message" (" - ERROR - " for let_error).
  // Throws EQVError "Log filename is empty " when the file name is empty.
  void Write(tQV_MessageType aEntryType, const std::u16string& aMessage);

  // Full path of the current log file.
  const std::u16string& FileName() const { return fFileName; }
  // Keeps the directory and takes the last path component of Value; creates nothing.
  void SetFileName(const std::u16string& Value);
  const std::u16string& Directory() const { return fDirectory; }
  // Moves the file name into Value and creates that directory with its parents.
  void SetDirectory(const std::u16string& Value);
  int32_t MaxMessageLength() const { return fMaxMessageLength; }
  bool Daily() const { return fDaily; }
  // Size limit in KiB; a larger file is renamed aside before the next line.
  int32_t MaxLogFileSize() const { return fMaxLogfileSize.load(); }
  void SetMaxLogFileSize(int32_t aValue) { fMaxLogfileSize.store(aValue); }

  // Current size of the file in bytes; -1 when it cannot be read (missing file).
  int64_t GetLogFileSize() const;
  // Whether the size is compared before the next line (the gate counter is at a multiple of 20).
  bool CheckLogfileSize() const { return fCounter % 20 == 0; }

 private:
  friend class tQV_LogThread;

  // Log thread: size check and rollover, then up to 10 append attempts 50 ms apart.
  void WriteToFile(const std::u16string& aLine);
  std::u16string CurrentFileName() const;

  std::u16string fDirectory;
  int32_t fMaxMessageLength = 0;
  std::u16string fFileName;  // written by the owner under name_mutex_, read by the log thread
  bool fDaily = false;
  std::atomic<int32_t> fMaxLogfileSize{5000};
  int32_t fCounter = 0;
  mutable std::mutex name_mutex_;
  std::unique_ptr<tQV_LogThread> fThread;
};

}  // namespace qvpa

#endif  // QVPA_BASE_LOG_WRITER_H_
