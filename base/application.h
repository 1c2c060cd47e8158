// tQV_Application: the process-wide runtime object: the program's own log (LogFiles
// below LogRootPath(), named after the executable), the command-line switches /BATCH,
// /DEBUG and /TEST, the version information, a setup store, a message dictionary, nested
// timers, and through its windowing layer the wait window, message boxes, the
// notification-area icon and the single-instance guard. tQV_ApplicationScope creates it
// and publishes it as QVApplication(); destroying the scope writes out the log and joins
// its thread. Log() may be called from any thread; the other operations belong to the
// thread that owns the scope. Devices on several threads read only Info() and the
// switches, which are fixed once the object is created and need no lock.
#ifndef QVPA_BASE_APPLICATION_H_
#define QVPA_BASE_APPLICATION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "base/application_info.h"
#include "base/date_time.h"
#include "base/log_writer.h"
#include "base/message_type.h"
#include "base/setup.h"
#include "base/wait.h"
#include "base/windowing.h"

namespace qvpa {

// A value for the "%" directives of a message text.
using FormatArg = std::variant<int64_t, double, std::u16string>;

// Formats with the runtime's directives: "%" [index ":"] ["-"] [width] ["." precision]
// type, type one of d u x s f e g n, and "%%". Values without a directive are ignored.
// Throws EQVError "Format '<text>' invalid or incompatible with argument" when a
// directive is malformed, has no value or a value of the wrong kind.
std::u16string FormatText(std::u16string_view aFormat, const std::vector<FormatArg>& aValues);

class tQV_Application {
 public:
  // Reads the process's command line. Throws what creation fails with (an invalid release
  // date in the version information, an unusable log directory name).
  tQV_Application();
  // The same with a given command line (program at index 0) and windowing layer (the
  // platform's when null).
  explicit tQV_Application(const std::vector<std::u16string>& aCommandLine,
                           std::unique_ptr<Windowing> aWindowing = nullptr);
  ~tQV_Application();
  tQV_Application(const tQV_Application&) = delete;
  tQV_Application& operator=(const tQV_Application&) = delete;

  tQV_Setup& Setup() { return *fSetup; }
  tQV_Wait& Wait() { return *fWait; }
  Windowing& WindowingServices() { return *windowing_; }
  const tQV_ApplicationInfo& Info() const { return *fInfo; }
  bool IsBatch() const { return fIsBatch; }
  bool IsDebug() const { return fIsDebug; }
  bool IsTest() const { return fIsTest; }
  void ForceIsBatch() { fIsBatch = true; }
  std::u16string LastError() const;
  bool TerminateOnExceptionIfBatch() const { return fTerminateOnExceptionIfBatch; }
  void SetTerminateOnExceptionIfBatch(bool aValue) { fTerminateOnExceptionIfBatch = aValue; }
  bool HideOnMinimize() const { return fHideOnMinimize; }
  void SetHideOnMinimize(bool aValue) { fHideOnMinimize = aValue; }
  const std::u16string& Language() const { return fLanguage; }
  void SetLanguage(std::u16string aValue) { fLanguage = std::move(aValue); }
  const std::u16string& DefaultLanguage() const { return fDefaultLanguage; }
  void SetDefaultLanguage(std::u16string aValue) { fDefaultLanguage = std::move(aValue); }

  // For let_error remembers the message as LastError; then queues it in the program's log.
  void Log(tQV_MessageType aEntryType, const std::u16string& aMessage);
  std::u16string GetLogDirectory() const { return fLogger->Directory(); }
  std::u16string GetLogFileName() const { return fLogger->FileName(); }
  // A relative aNewDir is taken below LogRootPath()/LogFiles; the file keeps its name.
  void ChangeLogDirectory(const std::u16string& aNewDir);
  void ChangeLogFilename(const std::u16string& aNewFileName);

  // Adds "key:value" lines to the message dictionary; the first line for a key wins and
  // a value ends at its first ":".
  void AddMessages(std::u16string_view aContent);
  // AddMessages with the module's raw-data resource aResourceName (UTF-8, with or without
  // a byte-order mark) when the module holds one. This driver carries none.
  void LoadMessages(std::u16string_view aResourceName);
  // The text of Language + "." + id, else id + "." + DefaultLanguage, else the id itself,
  // formatted with aValues (FormatText).
  std::u16string GetMessage(const std::u16string& aMessageId,
                            const std::vector<FormatArg>& aValues = {}) const;

  // Nested stopwatches; StopTimer ends the most recent. Elapsed times are differences of
  // times of day in milliseconds. Without a running timer they throw
  // EQVError "Unbalanced stack or queue operation".
  void StartTimer();
  int32_t StopTimer();
  int32_t GetTimerValue() const;
  int32_t GetTimerCount() const { return static_cast<int32_t>(fTimers.size()); }

  // The handler of unhandled failures: reports the message (when not empty) through
  // DisplayMessage, then in batch mode with TerminateOnExceptionIfBatch ends the program.
  void HandleException(const std::u16string& aMessage);

  // The notification-area icon of window aForm, reporting mouse events to it with
  // message 1124. DeleteNotifyIcon removes it when shown.
  void CreateNotifyIcon(uintptr_t aForm);
  void DeleteNotifyIcon();
  const NotifyIconData& IconData() const { return fIconData; }
  void SetIconData(const NotifyIconData& aValue) { fIconData = aValue; }
  bool NotifyIcon() const { return fNotifyIcon; }
  void SetNotifyIcon(bool aValue) { fNotifyIcon = aValue; }

  // Setting true takes the guard named after the executable; when another process holds
  // it, "Impossible to enter single instance mode." goes through DisplayMessage and the
  // program is told to end. Setting false releases it; setting the current value does
  // nothing. A guard still held is released with this object.
  bool SingleInstance() const { return fSingleInstance; }
  void SetSingleInstance(bool aValue);

  // Handles pending window messages, waits 500 ms, then tells the program to end (the
  // windowing layer's exit hook; without one the request is only logged).
  void Terminate();

  // A message for the user: in batch mode (or when nobody can see a box) it goes to the
  // log, in batch mode as an error. DisplayMessage hides a shown wait window around it and
  // shows it again with the standard caption.
  void ShowMessageDialog(tQV_MessageType aEntryType, const std::u16string& aMessage);
  void DisplayMessage(tQV_MessageType aEntryType, const std::u16string& aMessage);

 private:
  // Tells the program to end through the windowing layer; logs when nothing ends it.
  void TerminateApplication();

  std::unique_ptr<Windowing> windowing_;  // outlives everything that draws through it
  std::unique_ptr<tQV_Setup> fSetup;
  std::unique_ptr<tQV_Wait> fWait;
  NotifyIconData fIconData;
  bool fNotifyIcon = false;
  bool fHideOnMinimize = false;
  std::unique_ptr<tQV_LogWriter> fLogger;
  mutable std::mutex last_error_mutex_;
  std::u16string fLastError;  // guarded by last_error_mutex_: Log may run on any thread
  bool fIsBatch = false;
  bool fIsDebug = false;
  bool fIsTest = false;
  bool fSingleInstance = false;
  std::unique_ptr<InstanceLock> fSingleInstanceMutexHandle;
  bool fTerminateOnExceptionIfBatch = true;
  std::u16string fDefaultLanguage;
  std::u16string fLanguage;
  std::map<std::u16string, std::u16string> fMessages;
  std::unique_ptr<tQV_ApplicationInfo> fInfo;
  std::vector<TDateTime> fTimers;
};

// The process-wide object; null when no scope holds one.
tQV_Application* QVApplication();

// Creates a tQV_Application and publishes it as QVApplication() for the scope's lifetime;
// an object published before is hidden meanwhile and published again afterwards.
class tQV_ApplicationScope {
 public:
  tQV_ApplicationScope();
  explicit tQV_ApplicationScope(const std::vector<std::u16string>& aCommandLine,
                                std::unique_ptr<Windowing> aWindowing = nullptr);
  ~tQV_ApplicationScope();
  tQV_ApplicationScope(const tQV_ApplicationScope&) = delete;
  tQV_ApplicationScope& operator=(const tQV_ApplicationScope&) = delete;
  tQV_Application& Application() { return *application_; }

 private:
  std::unique_ptr<tQV_Application> application_;
  tQV_Application* previous_ = nullptr;
};

// The operations of QVApplication(); nothing happens when no application object exists.
void ShowMessageDialog(tQV_MessageType aEntryType, const std::u16string& aMessage);
void DisplayMessage(tQV_MessageType aEntryType, const std::u16string& aMessage);

}  // namespace qvpa

#endif  // QVPA_BASE_APPLICATION_H_
