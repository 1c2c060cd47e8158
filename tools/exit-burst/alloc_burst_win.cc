// alloc_burst: the control for exit_burst, without the library. 4 threads allocate and free
// (BSTRs, strings, malloc) in a tight loop, and main returns after the given milliseconds.
// Under Wine 8 this host too is left spinning in ntdll at times (tools/windows/
// exit_hang_probe.py names where), which shows that hang is Wine's, not the library's.
// Usage: alloc_burst <milliseconds>
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

DWORD WINAPI Burst(void*) {
  for (;;) {
    BSTR text = ::SysAllocString(L"<Request><Payment><Phase>COMMIT</Phase></Payment></Request>");
    const std::wstring copy(text, ::SysStringLen(text));
    void* block = std::malloc(64 + copy.size() % 7 * 32);
    std::free(block);
    ::SysFreeString(text);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: alloc_burst <milliseconds>\n");
    return 2;
  }
  for (int i = 0; i < 4; ++i) {
    if (::CreateThread(nullptr, 0, Burst, nullptr, 0, nullptr) == nullptr) return 1;
  }
  ::Sleep(static_cast<DWORD>(std::atol(argv[1])));
  std::printf("done\n");
  std::fflush(stdout);
  return 0;  // ExitProcess, the 4 threads still allocating
}
