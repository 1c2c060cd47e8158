#include <windows.h>

#include "base/error.h"
#include "io/fiscal_printer_control_test_support.h"
#include "io/system_error_win.h"

namespace qvpa::testing_io {

namespace {

// The class the channel creates, under the classes root (in a Wine prefix the machine's
// classes, the only ones its COM reads).
constexpr wchar_t kClassKey[] = L"CLSID\\{CCB90072-B81E-11D2-AB74-0040054C3719}";
constexpr wchar_t kServerKey[] = L"CLSID\\{CCB90072-B81E-11D2-AB74-0040054C3719}\\InprocServer32";

using AttachFunction = void (*)(const std::shared_ptr<FiscalPrinterSimulator::State>*);

[[noreturn]] void Fail(const std::u16string& aWhat, DWORD aError) {
  throw EQVError(aWhat + u": " + WindowsErrorText(aError));
}

void SetValue(HKEY aKey, const wchar_t* aName, const std::wstring& aValue) {
  const LSTATUS rc = ::RegSetValueExW(aKey, aName, 0, REG_SZ, reinterpret_cast<const BYTE*>(aValue.c_str()),
                                      static_cast<DWORD>((aValue.size() + 1) * sizeof(wchar_t)));
  if (rc != ERROR_SUCCESS) Fail(u"Cannot register the fiscal printer test server", static_cast<DWORD>(rc));
}

}  // namespace

struct FiscalPrinterUnderTest::Platform {
  HMODULE server = nullptr;
  AttachFunction attach = nullptr;
  bool registered = false;  // the class key is ours to remove

  ~Platform() {
    if (attach != nullptr) attach(nullptr);
    if (registered) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    if (server != nullptr) ::FreeLibrary(server);
  }
};

FiscalPrinterUnderTest::FiscalPrinterUnderTest(std::shared_ptr<FiscalPrinterSimulator::State> aState)
    : state_(std::move(aState)), platform_(std::make_unique<Platform>()) {
  // Found beside the test program by the system's search rules.
  platform_->server = ::LoadLibraryA(QVPA_FISCAL_PRINTER_SERVER);
  if (platform_->server == nullptr) Fail(u"Cannot load the fiscal printer test server", ::GetLastError());
  void* const attach = reinterpret_cast<void*>(::GetProcAddress(platform_->server, "AttachFiscalPrinterState"));
  platform_->attach = reinterpret_cast<AttachFunction>(attach);
  if (platform_->attach == nullptr) Fail(u"Fiscal printer test server without its attach", ::GetLastError());
  platform_->attach(&state_);

  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(platform_->server, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) Fail(u"Cannot name the fiscal printer test server", ::GetLastError());
  // A control installed on this machine is never replaced (nor removed afterwards).
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kClassKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ::RegCloseKey(key);
    throw EQVError(u"A fiscal printer control is registered here already; the tests do not replace it");
  }
  const LSTATUS rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                       nullptr);
  if (rc != ERROR_SUCCESS) Fail(u"Cannot register the fiscal printer test server", static_cast<DWORD>(rc));
  platform_->registered = true;
  try {
    SetValue(key, nullptr, std::wstring(path, length));
    SetValue(key, L"ThreadingModel", L"Apartment");
  } catch (...) {
    ::RegCloseKey(key);
    throw;
  }
  ::RegCloseKey(key);
}

FiscalPrinterUnderTest::~FiscalPrinterUnderTest() = default;

std::unique_ptr<OposFiscalPrinter> FiscalPrinterUnderTest::NewControl() { return CreateOposFiscalPrinterControl(); }

// A failure the server raised reaches the channel as an exception of IDispatch::Invoke,
// which the control turns into a message naming the member.
std::u16string FiscalPrinterUnderTest::ControlFailure(const std::u16string& aMember, const std::u16string& aText) {
  return u"OPOS control call " + aMember + u" failed: " + aText;
}

}  // namespace qvpa::testing_io
