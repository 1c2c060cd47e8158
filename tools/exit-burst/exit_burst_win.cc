// exit_burst: a Windows host that ends while the library is busy logging. It loads the
// library, opens a device, starts 4 threads that call PAY with phase COMMIT on it in a tight
// loop (a call without a request to the service that writes its lines into the device log), and after the given milliseconds returns from main: the
// process exits mid-burst without CLOSE or FreeLibrary, so the system ends the threads
// wherever they are, a log writer's lock possibly held, before the library's detach.
// Prints "calls <n>" just before returning; the process must then end with code 0.
// Usage: exit_burst <library> <milliseconds>
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

using Export = short(__stdcall*)(BSTR, BSTR*, BSTR*);

Export g_pay = nullptr;
std::wstring g_commit_request;
std::atomic<long> g_calls{0};

// Calls an export with aRequest; the output text in aOutput when asked for.
short Call(Export aExport, const std::wstring& aRequest, std::wstring* aOutput = nullptr) {
  BSTR request = ::SysAllocString(aRequest.c_str());
  BSTR output = nullptr;
  BSTR error = nullptr;
  const short result = aExport(request, &output, &error);
  if (aOutput != nullptr && output != nullptr) aOutput->assign(output, ::SysStringLen(output));
  ::SysFreeString(request);
  ::SysFreeString(output);
  ::SysFreeString(error);
  return result;
}

DWORD WINAPI Burst(void*) {
  for (;;) {
    Call(g_pay, g_commit_request);
    ++g_calls;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: exit_burst <library> <milliseconds>\n");
    return 2;
  }
  HMODULE library = ::LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", argv[1], ::GetLastError());
    return 1;
  }
  const auto open = reinterpret_cast<Export>(reinterpret_cast<void*>(::GetProcAddress(library, "OPEN")));
  g_pay = reinterpret_cast<Export>(reinterpret_cast<void*>(::GetProcAddress(library, "PAY")));
  if (open == nullptr || g_pay == nullptr) {
    std::fprintf(stderr, "the library lacks OPEN or PAY\n");
    return 1;
  }
  std::wstring output;
  const short opened = Call(open,
                            L"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>BURST</LogId>"
                            L"<Connection><Type>http</Type></Connection></Request>",
                            &output);
  const size_t start = output.find(L"<Handle>");
  const size_t end = output.find(L"</Handle>");
  if (opened != 0 || start == std::wstring::npos || end == std::wstring::npos) {
    std::fprintf(stderr, "OPEN failed (%d)\n", opened);
    return 1;
  }
  g_commit_request = L"<Request>" + output.substr(start, end + 9 - start) +
                     L"<Payment><Action>PAY</Action><Phase>COMMIT</Phase></Payment></Request>";
  for (int i = 0; i < 4; ++i) {
    if (::CreateThread(nullptr, 0, Burst, nullptr, 0, nullptr) == nullptr) {
      std::fprintf(stderr, "cannot start a thread: error %lu\n", ::GetLastError());
      return 1;
    }
  }
  ::Sleep(static_cast<DWORD>(std::atol(argv[2])));
  std::printf("calls %ld\n", g_calls.load());
  std::fflush(stdout);
  return 0;  // ExitProcess, the 4 threads still calling
}
