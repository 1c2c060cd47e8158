#include "base/application.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <thread>

#include "base/error.h"
#include "base/format_settings.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {

namespace {

std::atomic<tQV_Application*> g_application{nullptr};

constexpr char16_t kUnbalancedStack[] = u"Unbalanced stack or queue operation";

// The notification-icon record: the full size of the platform's wide-character record,
// the first user message number + 100, and the flags "callback message" and "icon".
constexpr uint32_t kNotifyIconDataSize = 956;
constexpr uint32_t kNotifyIconMessage = 1024 + 100;
constexpr uint32_t kNotifyIconFlags = 3;

[[noreturn]] void FormatError(std::u16string_view aFormat) {
  throw EQVError(u"Format '" + std::u16string(aFormat) + u"' invalid or incompatible with argument");
}

// Reads decimal digits at i; -1 when there are none.
int ReadNumber(std::u16string_view f, size_t& i) {
  if (i >= f.size() || f[i] < u'0' || f[i] > u'9') return -1;
  int value = 0;
  while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
    if (value < 100000) value = value * 10 + (f[i] - u'0');
    ++i;
  }
  return value;
}

// Digits with groups of three separated by the regional thousands separator.
std::u16string Grouped(const std::string& digits) {
  std::u16string out;
  const size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (i - lead) % 3 == 0 && i >= lead) out += DefaultFormatSettings().ThousandSeparator;
    out += static_cast<char16_t>(digits[i]);
  }
  return out;
}

std::u16string FormatFloat(char type, double value, int precision) {
  char buffer[512];
  const FormatSettings& fs = DefaultFormatSettings();
  switch (type) {
    case 'f':
      std::snprintf(buffer, sizeof buffer, "%.*f", precision < 0 ? 2 : precision, value);
      break;
    case 'n': {
      std::snprintf(buffer, sizeof buffer, "%.*f", precision < 0 ? 2 : precision, value);
      std::string text = buffer;
      const bool negative = !text.empty() && text[0] == '-';
      if (negative) text.erase(0, 1);
      const size_t dot = text.find('.');
      std::u16string out = negative ? u"-" : u"";
      out += Grouped(text.substr(0, dot));
      if (dot != std::string::npos) out += fs.DecimalSeparator + FromAscii(text.substr(dot + 1));
      return out;
    }
    case 'e':
      std::snprintf(buffer, sizeof buffer, "%.*E", precision < 0 ? 14 : precision - 1, value);
      break;
    default:  // 'g'
      std::snprintf(buffer, sizeof buffer, "%.*G", precision < 0 ? 15 : precision, value);
      break;
  }
  return ReplaceAll(FromAscii(buffer), u".", std::u16string(1, fs.DecimalSeparator));
}

}  // namespace

std::u16string FormatText(std::u16string_view aFormat, const std::vector<FormatArg>& aValues) {
  std::u16string out;
  size_t next = 0;
  size_t i = 0;
  while (i < aFormat.size()) {
    const char16_t c = aFormat[i++];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (i < aFormat.size() && aFormat[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    int width = ReadNumber(aFormat, i);
    if (i < aFormat.size() && aFormat[i] == u':') {  // the number was an argument index
      if (width < 0) FormatError(aFormat);
      next = static_cast<size_t>(width);
      ++i;
      width = -1;
    }
    const bool left = i < aFormat.size() && aFormat[i] == u'-';
    if (left) ++i;
    if (width < 0) width = ReadNumber(aFormat, i);
    int precision = -1;
    if (i < aFormat.size() && aFormat[i] == u'.') {
      ++i;
      precision = ReadNumber(aFormat, i);
      if (precision < 0) FormatError(aFormat);
    }
    if (i >= aFormat.size() || next >= aValues.size()) FormatError(aFormat);
    const char16_t type = static_cast<char16_t>(aFormat[i++] | 0x20);  // lower case
    const FormatArg& value = aValues[next++];
    std::u16string piece;
    if (type == u'd' || type == u'u' || type == u'x') {
      const int64_t* n = std::get_if<int64_t>(&value);
      if (n == nullptr || (type == u'u' && *n < 0)) FormatError(aFormat);
      char buffer[32];
      if (type == u'x') {
        std::snprintf(buffer, sizeof buffer, "%" PRIX64, static_cast<uint64_t>(*n));
      } else {
        std::snprintf(buffer, sizeof buffer, "%" PRId64, *n);
      }
      piece = FromAscii(buffer);
      const bool negative = piece[0] == u'-';
      const size_t digits = piece.size() - (negative ? 1 : 0);
      if (precision > 0 && static_cast<size_t>(precision) > digits) {
        piece.insert(negative ? 1 : 0, static_cast<size_t>(precision) - digits, u'0');
      }
    } else if (type == u's') {
      const std::u16string* s = std::get_if<std::u16string>(&value);
      if (s == nullptr) FormatError(aFormat);
      piece = precision >= 0 ? s->substr(0, static_cast<size_t>(precision)) : *s;
    } else if (type == u'f' || type == u'e' || type == u'g' || type == u'n') {
      double number = 0;
      if (const double* d = std::get_if<double>(&value)) {
        number = *d;
      } else if (const int64_t* n = std::get_if<int64_t>(&value)) {
        number = static_cast<double>(*n);
      } else {
        FormatError(aFormat);
      }
      piece = FormatFloat(static_cast<char>(type), number, precision);
    } else {
      FormatError(aFormat);
    }
    if (width > 0 && piece.size() < static_cast<size_t>(width)) {
      const size_t pad = static_cast<size_t>(width) - piece.size();
      piece.insert(left ? piece.size() : 0, pad, u' ');
    }
    out += piece;
  }
  return out;
}

tQV_Application::tQV_Application() : tQV_Application(platform::CommandLineParameters()) {}

tQV_Application::tQV_Application(const std::vector<std::u16string>& aCommandLine,
                                 std::unique_ptr<Windowing> aWindowing)
    : windowing_(aWindowing ? std::move(aWindowing) : CreatePlatformWindowing()) {
  fWait = std::make_unique<tQV_Wait>(windowing_->CreateWaitSurface(),
                                     [this] { return fLanguage; });
  fSetup = std::make_unique<tQV_Setup>();
  fTerminateOnExceptionIfBatch = true;
  fLogger = std::make_unique<tQV_LogWriter>(GetApplicationName(),
                                            JoinPath(LogRootPath(), u"LogFiles"), 0, false);
  fIsBatch = !GetCommandLineSwitch(u"/BATCH", true, aCommandLine).empty();
  fIsDebug = !GetCommandLineSwitch(u"/DEBUG", true, aCommandLine).empty();
  fIsTest = !GetCommandLineSwitch(u"/TEST", true, aCommandLine).empty();
  fInfo = std::make_unique<tQV_ApplicationInfo>();
  fInfo->Load();
  LoadMessages(u"MESSAGES");
}

tQV_Application::~tQV_Application() {
  DeleteNotifyIcon();
  fSetup.reset();
  fLogger.reset();  // writes out the queue and joins the log thread
  fWait.reset();
  fMessages.clear();
  fInfo.reset();
  fTimers.clear();
}

std::u16string tQV_Application::LastError() const {
  std::lock_guard<std::mutex> lock(last_error_mutex_);
  return fLastError;
}

void tQV_Application::Log(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  if (aEntryType == tQV_MessageType::let_error) {
    std::lock_guard<std::mutex> lock(last_error_mutex_);
    fLastError = aMessage;
  }
  fLogger->Write(aEntryType, aMessage);
}

void tQV_Application::ChangeLogDirectory(const std::u16string& aNewDir) {
  const std::u16string dir = platform::IsAbsolutePath(aNewDir)
                                 ? aNewDir
                                 : JoinPath(JoinPath(LogRootPath(), u"LogFiles"), aNewDir);
  fLogger->SetDirectory(dir);
}

void tQV_Application::ChangeLogFilename(const std::u16string& aNewFileName) {
  fLogger->SetFileName(aNewFileName);
}

void tQV_Application::LoadMessages(std::u16string_view aResourceName) {
  const std::optional<std::string> data = windowing_->FindResource(aResourceName);
  if (!data) return;
  std::string_view bytes = *data;
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  AddMessages(FromUtf8(bytes));
}

void tQV_Application::AddMessages(std::u16string_view aContent) {
  size_t start = 0;
  while (start < aContent.size()) {
    size_t end = aContent.find(u'\n', start);
    if (end == std::u16string_view::npos) end = aContent.size();
    std::u16string_view line = aContent.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    fMessages.try_emplace(GetField(line, 1, u':', false), GetField(line, 2, u':', false));
    start = end + 1;
  }
}

std::u16string tQV_Application::GetMessage(const std::u16string& aMessageId,
                                           const std::vector<FormatArg>& aValues) const {
  auto found = fMessages.find(fLanguage + u"." + aMessageId);
  if (found == fMessages.end()) found = fMessages.find(aMessageId + u"." + fDefaultLanguage);
  const std::u16string& text = found != fMessages.end() ? found->second : aMessageId;
  return FormatText(text, aValues);
}

void tQV_Application::StartTimer() { fTimers.push_back(Now()); }

int32_t tQV_Application::StopTimer() {
  const int32_t now = TimeToMilliseconds(Now());
  if (fTimers.empty()) throw EQVError(kUnbalancedStack);
  const int32_t start = TimeToMilliseconds(fTimers.back());
  fTimers.pop_back();
  return now - start;
}

int32_t tQV_Application::GetTimerValue() const {
  const int32_t now = TimeToMilliseconds(Now());
  if (fTimers.empty()) throw EQVError(kUnbalancedStack);
  return now - TimeToMilliseconds(fTimers.back());
}

void tQV_Application::HandleException(const std::u16string& aMessage) {
  if (!aMessage.empty()) DisplayMessage(tQV_MessageType::let_error, aMessage);
  if (fIsBatch && fTerminateOnExceptionIfBatch) TerminateApplication();
}

void tQV_Application::CreateNotifyIcon(uintptr_t aForm) {
  fIconData = NotifyIconData{};
  fIconData.cbSize = kNotifyIconDataSize;
  fIconData.hWnd = aForm;
  fIconData.uCallbackMessage = kNotifyIconMessage;
  fIconData.uID = 1;
  fIconData.hIcon = windowing_->ApplicationIcon();
  fIconData.uFlags = kNotifyIconFlags;
  windowing_->NotifyIcon(NotifyIconOperation::kAdd, fIconData);  // a refusal is not reported
  fNotifyIcon = true;
}

void tQV_Application::DeleteNotifyIcon() {
  if (!fNotifyIcon) return;
  fIconData.uFlags = 0;
  windowing_->NotifyIcon(NotifyIconOperation::kDelete, fIconData);
  fNotifyIcon = false;
}

void tQV_Application::SetSingleInstance(bool aValue) {
  if (aValue == fSingleInstance) return;
  fSingleInstance = aValue;
  if (!aValue) {
    fSingleInstanceMutexHandle.reset();
    return;
  }
  InstanceLockResult guard = windowing_->AcquireSingleInstance(GetApplicationName());
  if (guard.held_elsewhere) {
    DisplayMessage(tQV_MessageType::let_error, u"Impossible to enter single instance mode.");
    TerminateApplication();
  } else if (!guard.lock) {
    // The guard cannot be asked for at all: say so and go on without it.
    Log(tQV_MessageType::let_error, u"Single instance guard unavailable: " + guard.error);
  }
  fSingleInstanceMutexHandle = std::move(guard.lock);
}

void tQV_Application::Terminate() {
  windowing_->ProcessMessages();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  TerminateApplication();
}

void tQV_Application::TerminateApplication() {
  if (!windowing_->Terminate()) {
    Log(tQV_MessageType::let_info, u"End of program requested; no exit hook is set.");
  }
}

void tQV_Application::ShowMessageDialog(tQV_MessageType aEntryType,
                                        const std::u16string& aMessage) {
  if (fIsBatch) {
    Log(tQV_MessageType::let_error, aMessage);
  } else if (!windowing_->ShowMessageBox(aEntryType, aMessage)) {
    Log(aEntryType, aMessage);
  }
}

void tQV_Application::DisplayMessage(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  const bool was_shown = fWait->Started();
  if (was_shown) fWait->Stop();
  ShowMessageDialog(aEntryType, aMessage);
  if (was_shown) fWait->Start(u"");
}

tQV_Application* QVApplication() { return g_application.load(); }

tQV_ApplicationScope::tQV_ApplicationScope()
    : application_(std::make_unique<tQV_Application>()),
      previous_(g_application.exchange(application_.get())) {}

tQV_ApplicationScope::tQV_ApplicationScope(const std::vector<std::u16string>& aCommandLine,
                                           std::unique_ptr<Windowing> aWindowing)
    : application_(std::make_unique<tQV_Application>(aCommandLine, std::move(aWindowing))),
      previous_(g_application.exchange(application_.get())) {}

tQV_ApplicationScope::~tQV_ApplicationScope() {
  g_application.store(previous_);
  application_.reset();
}

void ShowMessageDialog(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  if (tQV_Application* app = QVApplication()) app->ShowMessageDialog(aEntryType, aMessage);
}

void DisplayMessage(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  if (tQV_Application* app = QVApplication()) app->DisplayMessage(aEntryType, aMessage);
}

}  // namespace qvpa
