// The Windows windowing layer against real windows: the wait window, message boxes pressed
// by a helper thread, the notification icon, the single-instance guard across processes,
// MESSAGES from this program's own RCDATA, and the driver DLL unloaded with its wait
// window shown. Under Wine it needs an X display; without one the program exits with 77,
// which CTest reports as skipped (tools/windows-test.sh runs it under Xvfb).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/application.h"
#include "base/error.h"
#include "base/text.h"
#include "base/wait_window_win.h"

#include <windows.h>
#include <shellapi.h>

#undef GetMessage
#undef FindResource

namespace qvpa {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kItalian[] = L"Attendere prego ...";
constexpr wchar_t kEnglish[] = L"Wait please ...";

std::wstring WideOf(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring ClassOf(HWND w) {
  wchar_t name[256] = {};
  GetClassNameW(w, name, 256);
  return name;
}

std::wstring TextOf(HWND w) {
  wchar_t text[512] = {};
  GetWindowTextW(w, text, 512);
  return text;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct WaitSearch {
  HINSTANCE module;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWaitWindow(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<WaitSearch*>(p);
  if (ClassOf(w).starts_with(kWaitWindowClass) &&
      reinterpret_cast<HINSTANCE>(GetClassLongPtrW(w, GCLP_HMODULE)) == s->module) {
    s->found.push_back(w);
  }
  return TRUE;
}

// The wait windows of aModule's class on aThread.
std::vector<HWND> WaitWindowsOf(DWORD aThread, HINSTANCE aModule) {
  WaitSearch search{aModule, {}};
  EnumThreadWindows(aThread, &CollectWaitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A folder for the application's log (QVPA_LOG_DIR), removed afterwards.
class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qvpa-gui-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()));
    fs::create_directories(root_);
    SetEnvironmentVariableW(L"QVPA_LOG_DIR", root_.wstring().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"QVPA_LOG_DIR", nullptr);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path LogFile() const { return root_ / "LogFiles" / "base_windowing_gui_test.log"; }
  // The wait window of the application object of this program.
  static HWND WaitWindow() {
    const std::vector<HWND> found = WaitWindowsOf(GetCurrentThreadId(), GetModuleHandleW(nullptr));
    return found.size() == 1 ? found[0] : nullptr;
  }

  fs::path root_;
};

// What the label measures in its own font, through GDI line by line.
struct Measured {
  SIZE label{};
  LOGFONTW font{};
};

Measured MeasureLines(HWND aLabel, const std::wstring& aCaption) {
  Measured m;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(aLabel, WM_GETFONT, 0, 0));
  GetObjectW(font, sizeof m.font, &m.font);
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  size_t start = 0;
  int lines = 0;
  while (true) {
    const size_t end = aCaption.find(L"\r\n", start);
    const std::wstring line = aCaption.substr(start, end == std::wstring::npos ? end : end - start);
    SIZE extent{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
    m.label.cx = std::max(m.label.cx, extent.cx);
    ++lines;
    if (end == std::wstring::npos) break;
    start = end + 2;
  }
  m.label.cy = lines * metrics.tmHeight;
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return m;
}

TEST_F(GuiTest, WaitWindowIsCreatedHiddenWithTheApplicationAndGoesWithIt) {
  {
    tQV_ApplicationScope scope({u"host"});
    HWND wait = WaitWindow();
    ASSERT_NE(wait, nullptr);
    EXPECT_FALSE(IsWindowVisible(wait));
    EXPECT_EQ(GetWindow(wait, GW_OWNER), nullptr);
    EXPECT_EQ(GetParent(wait), nullptr);
  }
  EXPECT_EQ(WaitWindow(), nullptr);
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), kWaitWindowClass, &info))
      << "the class outlived its windowing layer";
}

TEST_F(GuiTest, WaitWindowShowsItsCaptionCentredOnTopWithoutBorder) {
  struct Case {
    const char16_t* language;
    const char16_t* text;
    std::wstring caption;
  };
  const Case cases[] = {
      {u"", u"", kItalian},
      {u"it", u"Pagamento", std::wstring(kItalian) + L"\r\nPagamento"},
      {u"en", u"", kEnglish},
      {u"EN", u"Pagamento", std::wstring(kEnglish) + L"\r\nPagamento"},
      {u"de", u"Pagamento in corso, avvicinare il telefono", std::wstring(kItalian) + L"\r\nPagamento in corso, avvicinare il telefono"},
  };
  tQV_ApplicationScope scope({u"host"});
  tQV_Application& app = scope.Application();
  HWND wait = WaitWindow();
  ASSERT_NE(wait, nullptr);
  HWND label = GetDlgItem(wait, kWaitLabelId);
  ASSERT_NE(label, nullptr);
  RECT work{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LONG widest_one_line = 0, widest = 0;

  for (const Case& c : cases) {
    SCOPED_TRACE(WideOf(c.text).size());
    app.SetLanguage(c.language);
    app.Wait().Start(c.text);
    EXPECT_TRUE(app.Wait().Started());
    EXPECT_TRUE(IsWindowVisible(wait));
    EXPECT_EQ(TextOf(label), c.caption);

    const LONG style = GetWindowLongW(wait, GWL_STYLE), ex_style = GetWindowLongW(wait, GWL_EXSTYLE);
    EXPECT_TRUE(ex_style & WS_EX_TOPMOST);
    EXPECT_EQ(style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME), 0);
    EXPECT_EQ(ex_style & (WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE | WS_EX_DLGMODALFRAME | WS_EX_STATICEDGE), 0);

    const Measured m = MeasureLines(label, c.caption);
    EXPECT_EQ(m.font.lfWeight, FW_BOLD);
    EXPECT_EQ(m.font.lfHeight, -MulDiv(10, dpi, 72));
    RECT client{}, frame{}, label_rect{};
    GetClientRect(wait, &client);
    GetWindowRect(wait, &frame);
    EXPECT_EQ(client.right, m.label.cx * 13 / 10) << "label width " << m.label.cx;
    EXPECT_EQ(client.bottom, 50);
    EXPECT_EQ(frame.right - frame.left, client.right) << "a border";
    EXPECT_EQ(frame.bottom - frame.top, client.bottom) << "a border";
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - client.right) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - client.bottom) / 2);
    GetWindowRect(label, &label_rect);
    MapWindowPoints(nullptr, wait, reinterpret_cast<POINT*>(&label_rect), 2);
    EXPECT_EQ(label_rect.right - label_rect.left, m.label.cx);
    EXPECT_EQ(label_rect.bottom - label_rect.top, m.label.cy);
    EXPECT_EQ(label_rect.left, (client.right - m.label.cx) / 2);
    EXPECT_EQ(label_rect.top, (50 - m.label.cy) / 2);
    if (c.caption.find(L"\r\n") == std::wstring::npos) {
      widest_one_line = std::max(widest_one_line, m.label.cx);
    } else {
      EXPECT_GT(m.label.cy, 0);
      widest = std::max(widest, m.label.cx);
    }

    // The background, and white in the label, read back from the window.
    HDC dc = GetDC(wait);
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(12, 25, 117));
    EXPECT_EQ(GetPixel(dc, client.right - 2, client.bottom - 2), RGB(12, 25, 117));
    int white = 0;
    for (LONG y = label_rect.top; y < label_rect.bottom; ++y) {
      for (LONG x = label_rect.left; x < label_rect.right; ++x) white += GetPixel(dc, x, y) == RGB(255, 255, 255);
    }
    ReleaseDC(wait, dc);
    EXPECT_GT(white, 20) << "no white text drawn";

    app.Wait().Stop();
    EXPECT_FALSE(app.Wait().Started());
    EXPECT_FALSE(IsWindowVisible(wait));
  }
  EXPECT_GT(widest, widest_one_line) << "a longer second line widens the window";
}

// Finds message boxes of one thread, reads them and presses OK, until stopped.
class BoxPresser {
 public:
  struct Seen {
    std::wstring caption, text;
    HICON icon = nullptr;
    int buttons = 0;
    int button_id = 0;
    bool wait_visible = false;
  };

  BoxPresser(DWORD aThread, HWND aWait) : thread_(aThread), wait_(aWait) {
    worker_ = std::thread([this] { Run(); });
  }
  ~BoxPresser() { Stop(); }
  void Stop() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
  }
  const std::vector<Seen>& Boxes() const { return seen_; }

 private:
  static BOOL CALLBACK FindBox(HWND w, LPARAM p) {
    if (ClassOf(w) != L"#32770" || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<HWND*>(p) = w;
    return FALSE;
  }
  static BOOL CALLBACK ReadBoxItem(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<Seen*>(p);
    const std::wstring cls = ClassOf(w);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      if ((GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        s->icon = reinterpret_cast<HICON>(SendMessageW(w, STM_GETICON, 0, 0));
      } else if (!TextOf(w).empty()) {
        s->text = TextOf(w);
      }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(w)) {
      ++s->buttons;
      s->button_id = GetDlgCtrlID(w);
    }
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      HWND box = nullptr;
      EnumThreadWindows(thread_, &FindBox, reinterpret_cast<LPARAM>(&box));
      if (box == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      Seen seen;
      seen.caption = TextOf(box);
      seen.wait_visible = wait_ != nullptr && IsWindowVisible(wait_);
      EnumChildWindows(box, &ReadBoxItem, reinterpret_cast<LPARAM>(&seen));
      seen_.push_back(seen);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      while (IsWindow(box) && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  DWORD thread_;
  HWND wait_;
  std::atomic<bool> stop_{false};
  std::vector<Seen> seen_;  // written by the worker until Stop
  std::thread worker_;
};

TEST_F(GuiTest, MessageBoxHidesTheWaitWindowAndShowsItAgainWithTheStandardCaption) {
  struct Case {
    tQV_MessageType type;
    LPCWSTR icon;
    const char16_t* message;
  };
  const Case cases[] = {
      {tQV_MessageType::let_info, IDI_INFORMATION, u"Pagamento riuscito"},
      {tQV_MessageType::let_error, IDI_ERROR, u"Carta rifiutata: \u00e8 scaduta"},
  };
  tQV_ApplicationScope scope({u"host"});
  tQV_Application& app = scope.Application();
  HWND wait = WaitWindow();
  ASSERT_NE(wait, nullptr);
  for (const Case& c : cases) {
    app.Wait().Start(u"Pagamento");
    BoxPresser presser(GetCurrentThreadId(), wait);
    DisplayMessage(c.type, c.message);
    presser.Stop();
    ASSERT_EQ(presser.Boxes().size(), 1u);
    const BoxPresser::Seen& seen = presser.Boxes()[0];
    EXPECT_EQ(seen.caption, L"base_windowing_gui_test");
    EXPECT_EQ(seen.text, WideOf(c.message));
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, c.icon));
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_EQ(seen.button_id, IDOK);
    EXPECT_FALSE(seen.wait_visible) << "the wait window stayed up over the box";
    EXPECT_TRUE(IsWindowVisible(wait));
    EXPECT_TRUE(app.Wait().Started());
    EXPECT_EQ(TextOf(GetDlgItem(wait, kWaitLabelId)), kItalian);
    app.Wait().Stop();
  }
}

TEST_F(GuiTest, BatchModeShowsNoBoxAndLogsTheMessage) {
  {
    tQV_ApplicationScope scope({u"host", u"/batch"});
    HWND wait = WaitWindow();
    scope.Application().Wait().Start(u"");
    BoxPresser presser(GetCurrentThreadId(), wait);
    DisplayMessage(tQV_MessageType::let_info, u"no box in batch");
    ShowMessageDialog(tQV_MessageType::let_error, u"nor for an error");
    presser.Stop();
    EXPECT_TRUE(presser.Boxes().empty());
    EXPECT_TRUE(IsWindowVisible(wait));
  }
  const std::string log = ReadAll(LogFile());
  EXPECT_NE(log.find(" - ERROR - no box in batch\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - ERROR - nor for an error\r\n"), std::string::npos) << log;
}

// A window procedure of ours that fails on WM_APP and WM_APP + 1.
LRESULT CALLBACK ThrowingProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return GuardedWindowProcedure(
      [&]() -> LRESULT {
        if (m == WM_APP) throw EQVError(u"procedure failed");
        if (m == WM_APP + 1) throw std::runtime_error("runtime failure");
        return DefWindowProcW(w, m, wp, lp);
      },
      7);
}

TEST_F(GuiTest, FailuresInOurWindowProceduresGoToHandleException) {
  static const wchar_t kClass[] = L"qvpa-test-throwing-window";
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  wc.lpfnWndProc = &ThrowingProcedure;
  ASSERT_NE(RegisterClassExW(&wc), 0);
  int ends = 0;
  {
    tQV_ApplicationScope scope({u"host", u"/batch"});
    scope.Application().WindowingServices().SetExitHook([&ends] { ++ends; });
    HWND w = CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(SendMessageW(w, WM_APP, 0, 0), 7);
    EXPECT_EQ(SendMessageW(w, WM_APP + 1, 0, 0), 7);
    EXPECT_EQ(ends, 2) << "batch mode ends the program after each failure";
    EXPECT_EQ(scope.Application().LastError(), u"runtime failure");
    DestroyWindow(w);
  }
  UnregisterClassW(kClass, wc.hInstance);
  const std::string log = ReadAll(LogFile());
  EXPECT_NE(log.find(" - ERROR - procedure failed\r\n"), std::string::npos) << log;
}

TEST_F(GuiTest, TerminateCallsTheExitHookAndNeverEndsTheProcessByItself) {
  tQV_ApplicationScope scope({u"host"});
  tQV_Application& app = scope.Application();
  app.Terminate();  // no hook: logged, and this process goes on
  int ends = 0;
  app.WindowingServices().SetExitHook([&ends] { ++ends; });
  app.Terminate();
  EXPECT_EQ(ends, 1);
}

TEST_F(GuiTest, NotifyIconIsAddedAndDeletedWithTheRecordedFields) {
  HWND form = CreateWindowExW(0, L"STATIC", L"host form", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(form, nullptr);
  NotifyIconData record;
  {
    tQV_ApplicationScope scope({u"host"});
    tQV_Application& app = scope.Application();
    Windowing& services = app.WindowingServices();
    app.CreateNotifyIcon(reinterpret_cast<uintptr_t>(form));
    record = app.IconData();
    EXPECT_TRUE(app.NotifyIcon());
    EXPECT_EQ(record.cbSize, 956u);
    EXPECT_EQ(record.hWnd, reinterpret_cast<uintptr_t>(form));
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, 3u);
    EXPECT_EQ(record.uCallbackMessage, 1124u);
    EXPECT_NE(record.hIcon, 0u);
    EXPECT_FALSE(services.NotifyIcon(NotifyIconOperation::kAdd, record)) << "the icon was not there";
    app.DeleteNotifyIcon();
    EXPECT_FALSE(app.NotifyIcon());
    EXPECT_EQ(app.IconData().uFlags, 0u);
    EXPECT_FALSE(services.NotifyIcon(NotifyIconOperation::kDelete, record)) << "the icon was not deleted";
    EXPECT_TRUE(services.NotifyIcon(NotifyIconOperation::kAdd, record));
    EXPECT_TRUE(services.NotifyIcon(NotifyIconOperation::kDelete, record));
    app.CreateNotifyIcon(reinterpret_cast<uintptr_t>(form));  // left shown: removed at the end
  }
  auto windowing = CreatePlatformWindowing();
  record.uFlags = 0;
  EXPECT_FALSE(windowing->NotifyIcon(NotifyIconOperation::kDelete, record))
      << "the icon outlived the application object";
  DestroyWindow(form);
}

TEST_F(GuiTest, MessagesComeFromTheModulesRawDataResource) {
  tQV_ApplicationScope scope({u"host"});
  tQV_Application& app = scope.Application();
  // MESSAGES, UTF-8 with a byte-order mark, is read at creation.
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"E01");
  app.SetLanguage(u"it");
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"Importo non valido 5 \u20ac");
  EXPECT_EQ(app.GetMessage(u"E02"), u"prima riga") << "the first line for a key wins";
  EXPECT_EQ(app.GetMessage(u"E03"), u"Citt\u00e0") << "a value ends at its first colon";
  app.SetLanguage(u"fr");
  app.SetDefaultLanguage(u"en");
  EXPECT_EQ(app.GetMessage(u"E04"), u"Only through the default language");
  // A second resource without a byte-order mark, named in another letter case.
  app.LoadMessages(u"plainmessages");
  app.SetLanguage(u"it");
  EXPECT_EQ(app.GetMessage(u"P01"), u"senza BOM \u00fc");
  EXPECT_FALSE(app.WindowingServices().FindResource(u"NOT_THERE").has_value());
  const auto raw = app.WindowingServices().FindResource(u"MESSAGES");
  ASSERT_TRUE(raw.has_value());
  EXPECT_TRUE(raw->starts_with("\xEF\xBB\xBF"));
}

// A probe process (base_instance_probe.exe /BATCH) with pipes on its standard streams.
class Probe {
 public:
  Probe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in_read, out_write;
    CreatePipe(&in_read, &in_write_, &inherit, 0);
    CreatePipe(&out_read_, &out_write, &inherit, 0);
    SetHandleInformation(in_write_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read_, HANDLE_FLAG_INHERIT, 0);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + (fs::path(self).parent_path() / "base_instance_probe.exe").wstring() + L"\" /BATCH";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_);
    CloseHandle(in_read);
    CloseHandle(out_write);
  }
  ~Probe() {
    CloseInput();
    if (started_) {
      WaitForSingleObject(process_.hProcess, 10000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    CloseHandle(out_read_);
  }
  bool Started() const { return started_; }
  // Standard output up to "held" or its end.
  std::string Output() {
    std::string out;
    char buffer[64];
    DWORD got = 0;
    while (out.find("held") == std::string::npos && ReadFile(out_read_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      out.append(buffer, got);
    }
    return out;
  }
  void CloseInput() {
    if (in_write_ != nullptr) CloseHandle(in_write_);
    in_write_ = nullptr;
  }
  DWORD ExitCode() {
    if (WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  HANDLE in_write_ = nullptr, out_read_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

TEST_F(GuiTest, SingleInstanceExcludesASecondProcessUntilTheFirstEnds) {
  Probe first;
  ASSERT_TRUE(first.Started());
  ASSERT_NE(first.Output().find("held"), std::string::npos);
  {
    Probe second;
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.Output().find("held"), std::string::npos);
    EXPECT_EQ(second.ExitCode(), 3u) << "its terminate hook did not run";
  }
  const std::string log = ReadAll(root_ / "LogFiles" / "base_instance_probe.log");
  EXPECT_NE(log.find(" - ERROR - Impossible to enter single instance mode.\r\n"), std::string::npos) << log;
  first.CloseInput();
  EXPECT_EQ(first.ExitCode(), 0u);
  Probe third;
  ASSERT_TRUE(third.Started());
  EXPECT_NE(third.Output().find("held"), std::string::npos) << "the guard was not released with the first process";
  third.CloseInput();
  EXPECT_EQ(third.ExitCode(), 0u);
}

fs::path DriverLibrary() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path() / "QVPA_SATISPAY_10.dll";
}

TEST_F(GuiTest, DriverUnloadedWithItsWaitWindowShownLeavesNoWindowBehind) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    HMODULE library = LoadLibraryW(DriverLibrary().wstring().c_str());
    ASSERT_NE(library, nullptr);
    const std::vector<HWND> windows = WaitWindowsOf(GetCurrentThreadId(), library);
    ASSERT_EQ(windows.size(), 1u) << "the library made no wait window on the loading thread";
    ShowWindow(windows[0], SW_SHOWNOACTIVATE);
    UpdateWindow(windows[0]);
    ASSERT_TRUE(IsWindowVisible(windows[0]));
    ASSERT_TRUE(FreeLibrary(library));
    EXPECT_FALSE(IsWindow(windows[0]));
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExW(library, kWaitWindowClass, &info)) << "the class outlived the library";
    ProcessPendingMessages();
  }
}

TEST_F(GuiTest, DriverUnloadedOnAnotherThreadLeavesItsWindowHiddenAndHarmless) {
  HMODULE library = LoadLibraryW(DriverLibrary().wstring().c_str());
  ASSERT_NE(library, nullptr);
  const std::vector<HWND> windows = WaitWindowsOf(GetCurrentThreadId(), library);
  ASSERT_EQ(windows.size(), 1u);
  HWND wait = windows[0];
  ShowWindow(wait, SW_SHOWNOACTIVATE);
  BOOL freed = FALSE;
  std::thread([&] { freed = FreeLibrary(library); }).join();
  ASSERT_TRUE(freed);
  // The window procedure no longer points into the library: messages to it are answered.
  ProcessPendingMessages();
  ASSERT_TRUE(IsWindow(wait));
  EXPECT_FALSE(IsWindowVisible(wait));
  EXPECT_EQ(GetWindowLongPtrW(wait, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  InvalidateRect(wait, nullptr, TRUE);
  UpdateWindow(wait);
  SendMessageW(wait, WM_NULL, 0, 0);
  EXPECT_TRUE(DestroyWindow(wait));  // what its thread's end would do
  // The next load takes the class name back.
  library = LoadLibraryW(DriverLibrary().wstring().c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(WaitWindowsOf(GetCurrentThreadId(), library).size(), 1u);
  EXPECT_TRUE(FreeLibrary(library));
}

// Run by tools/windows-test.sh to take a picture of the display: the wait window stays up
// until the file named by QVPA_SCREENSHOT_MARKER is deleted (30 s at most).
TEST_F(GuiTest, WaitWindowForAScreenshot) {
  wchar_t marker[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"QVPA_SCREENSHOT_MARKER", marker, MAX_PATH) == 0) {
    GTEST_SKIP() << "QVPA_SCREENSHOT_MARKER not set";
  }
  tQV_ApplicationScope scope({u"host"});
  scope.Application().Wait().Start(u"Pagamento");
  { std::ofstream(fs::path(marker)) << "shown\n"; }
  for (int i = 0; i < 600 && fs::exists(fs::path(marker)); ++i) {
    ProcessPendingMessages();
    Sleep(50);
  }
  scope.Application().Wait().Stop();
}

}  // namespace
}  // namespace qvpa

// Under Wine without an X display no window can be made: the suite reports itself skipped.
int main(int argc, char** argv) {
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (wine && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
    std::puts("skipped: no DISPLAY under Wine (tools/windows-test.sh runs this suite under Xvfb)");
    return 77;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
