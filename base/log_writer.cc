#include "base/log_writer.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "base/date_time.h"
#include "base/error.h"
#include "base/format_settings.h"
#include "base/log_thread.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {

namespace {

constexpr int kAppendAttempts = 10;
constexpr auto kRetryPause = std::chrono::milliseconds(50);

// "yyyy-mm-dd hh:mm:ss:zzz"; ":" is the regional time separator.
std::u16string Stamp(TDateTime now) { return FormatDateTime(u"yyyy-mm-dd hh:nn:ss:zzz", now); }

}  // namespace

tQV_LogWriter::tQV_LogWriter(std::u16string aFileName, std::u16string aDirectory,
                             int32_t aMaxMessageLength, bool aDaily) {
  std::u16string name = std::move(aFileName);
  if (aDaily) name += u"_" + FormatDateTime(u"yyyymmdd", Now());
  fFileName = name + u".log";
  SetDirectory(aDirectory);
  fMaxMessageLength = aMaxMessageLength;
  fDaily = aDaily;
  fCounter = 0;
  fMaxLogfileSize = 5000;
  try {
    fThread = std::make_unique<tQV_LogThread>(*this);
  } catch (const std::system_error& e) {
    throw EQVError(u"Unable to start the log thread: " + FromUtf8(e.what()));
  }
}

tQV_LogWriter::~tQV_LogWriter() { fThread.reset(); }

void tQV_LogWriter::Write(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  {
    std::lock_guard<std::mutex> lock(name_mutex_);
    if (fFileName.empty()) throw EQVError(u"Log filename is empty ");
  }
  std::u16string line = Stamp(Now());
  line += aEntryType == tQV_MessageType::let_error ? u" - ERROR - " : u" - ";
  if (fMaxMessageLength > 0 && aMessage.size() > static_cast<size_t>(fMaxMessageLength)) {
    line.append(aMessage, 0, static_cast<size_t>(fMaxMessageLength));
  } else {
    line += aMessage;
  }
  fThread->Push(std::move(line));
}

void tQV_LogWriter::SetFileName(const std::u16string& Value) {
  std::u16string name = JoinPath(fDirectory, ExtractFileName(Value));
  std::lock_guard<std::mutex> lock(name_mutex_);
  fFileName = std::move(name);
}

void tQV_LogWriter::SetDirectory(const std::u16string& Value) {
  std::u16string name = JoinPath(Value, ExtractFileName(fFileName));
  {
    std::lock_guard<std::mutex> lock(name_mutex_);
    fDirectory = Value;
    fFileName = std::move(name);
  }
  // Only an empty name is an error; an uncreatable folder shows as lines that fail.
  if (!platform::CreateDirectories(Value) && Value.empty()) {
    throw EQVError(u"Unable to create log directory: the directory name is empty");
  }
}

int64_t tQV_LogWriter::GetLogFileSize() const { return platform::FileSize(CurrentFileName()); }

std::u16string tQV_LogWriter::CurrentFileName() const {
  std::lock_guard<std::mutex> lock(name_mutex_);
  return fFileName;
}

void tQV_LogWriter::WriteToFile(const std::u16string& aLine) {
  const std::u16string file = CurrentFileName();
  if (CheckLogfileSize()) {
    const int64_t size = platform::FileSize(file);
    if (size > int64_t{fMaxLogfileSize.load()} * 1024) {
      // A failed rename (e.g. the target exists) is ignored: writing goes on in the same file.
      platform::RenameFile(file, ChangeFileExt(file, u"") + u"_" +
                                     FormatDateTime(u"yyyymmddhhnnsszzz", Now()) + u".log");
    }
  }
  const std::string bytes = ToUtf8(aLine) + "\r\n";
  for (int attempt = 1; attempt <= kAppendAttempts; ++attempt) {
    if (platform::AppendToFileExclusive(file, bytes)) return;
    if (attempt < kAppendAttempts) std::this_thread::sleep_for(kRetryPause);
  }
  // All attempts failed: the line is dropped.
}

}  // namespace qvpa
