#include "base/wait_window_win.h"

#include <cwchar>
#include <string>
#include <type_traits>

#include "base/application.h"
#include "base/error.h"
#include "base/text.h"

namespace qvpa {

namespace {

constexpr DWORD kStyle = WS_POPUP;  // no caption, no border
// Always on top; a tool window, so it takes no place on the task bar.
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr UINT kLabelFormat = DT_CENTER | DT_NOPREFIX;
constexpr PixelSize kCreatedClient = {100, 50};

struct GdiObjectDeleter {
  void operator()(HGDIOBJ aObject) const { DeleteObject(aObject); }
};
using ScopedFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using ScopedBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

const wchar_t* Wide(const std::u16string& aText) {
  return reinterpret_cast<const wchar_t*>(aText.c_str());
}

// The label's font: 10 points at the screen's resolution, bold.
ScopedFont CreateLabelFont() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  LOGFONTW font{};
  font.lfHeight = -MulDiv(10, dpi, 72);
  font.lfWeight = FW_BOLD;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  std::wcsncpy(font.lfFaceName, L"Tahoma", LF_FACESIZE - 1);
  return ScopedFont(CreateFontIndirectW(&font));
}

// The rectangle of a window of client size aClient centred on the desktop's work area.
RECT CentredWindowRect(PixelSize aClient) {
  RECT frame{0, 0, aClient.width, aClient.height};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  RECT work{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  const LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
  const LONG left = work.left + (work.right - work.left - width) / 2;
  const LONG top = work.top + (work.bottom - work.top - height) / 2;
  return {left, top, left + width, top + height};
}

class WaitWindow final : public WaitSurface {
 public:
  explicit WaitWindow(const WaitWindowClass& aClass);
  ~WaitWindow() override;

  PixelSize MeasureLabel(const std::u16string& aCaption) override;
  void Apply(const WaitLayout& aLayout) override;
  void Show() override;
  void Hide() override;

  // The procedure of the class: forwards to the object riding on the window.
  static LRESULT CALLBACK WindowProcedure(HWND aWindow, UINT aMessage, WPARAM aWParam,
                                          LPARAM aLParam);

 private:
  LRESULT OnMessage(UINT aMessage, WPARAM aWParam, LPARAM aLParam);
  // True while the window exists and is still ours.
  bool Alive() const;

  ScopedFont font_;
  ScopedBrush background_;
  HWND window_ = nullptr;  // destroyed before the font and the brush
  HWND label_ = nullptr;   // child of window_
};

WaitWindow::WaitWindow(const WaitWindowClass& aClass)
    : font_(CreateLabelFont()), background_(CreateSolidBrush(kWaitBackground)) {
  if (!aClass.Registered()) return;
  const RECT place = CentredWindowRect(kCreatedClient);
  window_ = CreateWindowExW(kExStyle, aClass.Name().c_str(), L"", kStyle, place.left, place.top,
                            place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                            aClass.Module(), this);
  if (window_ == nullptr) return;
  label_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, 0,
                           0, 0, 0, window_, reinterpret_cast<HMENU>(kWaitLabelId),
                           aClass.Module(), nullptr);
  if (label_ != nullptr) SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
}

WaitWindow::~WaitWindow() {
  if (!Alive()) return;
  if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window_);
    return;
  }
  // Only the owning thread may destroy it: leave it hidden, answered by the system alone.
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  ShowWindowAsync(window_, SW_HIDE);
}

bool WaitWindow::Alive() const {
  return window_ != nullptr && IsWindow(window_) &&
         GetWindowLongPtrW(window_, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this);
}

PixelSize WaitWindow::MeasureLabel(const std::u16string& aCaption) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return {};
  HGDIOBJ previous = SelectObject(screen, font_.get());
  RECT box{0, 0, 0, 0};
  DrawTextW(screen, Wide(aCaption), -1, &box, kLabelFormat | DT_CALCRECT);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  return {box.right - box.left, box.bottom - box.top};
}

void WaitWindow::Apply(const WaitLayout& aLayout) {
  if (!Alive()) return;
  const RECT place = CentredWindowRect(aLayout.client);
  SetWindowPos(window_, HWND_TOPMOST, place.left, place.top, place.right - place.left,
               place.bottom - place.top, SWP_NOACTIVATE);
  if (label_ == nullptr) return;
  SetWindowTextW(label_, Wide(aLayout.caption));
  MoveWindow(label_, aLayout.label_left, aLayout.label_top, aLayout.label.width,
             aLayout.label.height, TRUE);
}

void WaitWindow::Show() {
  if (!Alive()) return;
  SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ProcessPendingMessages();
}

void WaitWindow::Hide() {
  if (Alive()) ShowWindow(window_, SW_HIDE);
}

LRESULT CALLBACK WaitWindow::WindowProcedure(HWND aWindow, UINT aMessage, WPARAM aWParam,
                                             LPARAM aLParam) {
  // The object arrives with the creation and rides on the window from then on.
  if (aMessage == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(aLParam);
    SetWindowLongPtrW(aWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<WaitWindow*>(GetWindowLongPtrW(aWindow, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(aWindow, aMessage, aWParam, aLParam);
  if (aMessage == WM_NCDESTROY) {
    SetWindowLongPtrW(aWindow, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self->label_ = nullptr;
    return DefWindowProcW(aWindow, aMessage, aWParam, aLParam);
  }
  return GuardedWindowProcedure(
      [&] {
        if (self->window_ == nullptr) self->window_ = aWindow;  // messages during creation
        return self->OnMessage(aMessage, aWParam, aLParam);
      },
      0);
}

LRESULT WaitWindow::OnMessage(UINT aMessage, WPARAM aWParam, LPARAM aLParam) {
  switch (aMessage) {
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(window_, &client);
      FillRect(reinterpret_cast<HDC>(aWParam), &client, background_.get());
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(aWParam);
      SetTextColor(dc, kWaitLabelColour);
      SetBkColor(dc, kWaitBackground);
      return reinterpret_cast<LRESULT>(background_.get());
    }
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // a click does not take the focus from the host
    default:
      return DefWindowProcW(window_, aMessage, aWParam, aLParam);
  }
}

}  // namespace

WaitWindowClass::WaitWindowClass(HINSTANCE aModule) : module_(aModule), name_(kWaitWindowClass) {
  // An earlier load of this module at the same address may have left its class behind (its
  // window lived on another thread): take the name back, or use one of our own.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(module_, name_.c_str(), &wc) && !UnregisterClassW(name_.c_str(), module_)) {
    name_ += L"." + std::to_wstring(GetTickCount64());
  }
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WaitWindow::WindowProcedure;
  wc.hInstance = module_;
  wc.hCursor = LoadCursorW(nullptr, IDC_WAIT);
  wc.lpszClassName = name_.c_str();
  registered_ = RegisterClassExW(&wc) != 0;
}

WaitWindowClass::~WaitWindowClass() {
  if (registered_) UnregisterClassW(name_.c_str(), module_);
}

std::unique_ptr<WaitSurface> CreateWaitWindow(const WaitWindowClass& aClass) {
  return std::make_unique<WaitWindow>(aClass);
}

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT HandleWindowProcedureFailure(std::exception_ptr aFailure, LRESULT aFallback) noexcept {
  try {
    std::u16string text;
    try {
      std::rethrow_exception(aFailure);
    } catch (const EQVError& e) {
      text = e.Message();
    } catch (const std::exception& e) {
      text = FromUtf8(e.what());
    } catch (...) {
      text = u"Unexpected failure";
    }
    if (tQV_Application* application = QVApplication()) application->HandleException(text);
  } catch (...) {
    // Reporting failed too: the window procedure still returns to the system.
  }
  return aFallback;
}

}  // namespace qvpa
