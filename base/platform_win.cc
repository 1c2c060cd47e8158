#include "base/platform.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <string>
#include <type_traits>

#include "base/module_win.h"

namespace qvpa::platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using ScopedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct LocalCloser {
  void operator()(void* p) const { LocalFree(p); }
};

DWORD Attributes(std::u16string_view path) {
  return GetFileAttributesW(Wide(std::u16string(path)));
}

std::atomic<bool> gModuleUnloading{false};
std::atomic<bool> gProcessEnding{false};

}  // namespace

void SetModuleUnloading(bool aProcessEnding) {
  gProcessEnding.store(aProcessEnding);
  gModuleUnloading.store(true);
}

bool ProcessEnding() { return gProcessEnding.load(); }

bool ModuleUnloading() { return gModuleUnloading.load(); }

char16_t PathSeparator() { return u'\\'; }

bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsAbsolutePath(std::u16string_view path) {
  // "C:\..." or a UNC path "\\server\share".
  if (path.size() >= 3 && path[1] == u':' && IsPathSeparator(path[2])) return true;
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

std::u16string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::u16string> CommandLineParameters() {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalCloser> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::u16string> params;
  if (!argv) return params;
  for (int i = 0; i < count; ++i) {
    const wchar_t* arg = argv.get()[i];
    params.push_back(FromWide(arg, wcslen(arg)));
  }
  return params;
}

std::optional<std::u16string> EnvironmentVariable(std::u16string_view name) {
  const std::u16string n(name);
  SetLastError(ERROR_SUCCESS);
  const DWORD needed = GetEnvironmentVariableW(Wide(n), nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::u16string();
  }
  std::wstring value(needed, L'\0');
  const DWORD got = GetEnvironmentVariableW(Wide(n), value.data(), needed);
  if (got == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  if (got >= needed) return std::u16string();  // changed between the two calls
  return FromWide(value.data(), got);
}

std::u16string HostName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return FromWide(name, size);
}

std::u16string OsName() { return u"Windows"; }

std::u16string OsVersion() {
  // RtlGetVersion reports the real version; GetVersionEx answers what the program's
  // manifest declares.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return {};
  const auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get_version == nullptr || get_version(&info) != 0) return {};
  const std::string text = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
                           "." + std::to_string(info.dwBuildNumber);
  return std::u16string(text.begin(), text.end());
}

bool CreateDirectories(std::u16string_view path) {
  if (path.empty()) return false;
  // Create each prefix that ends before a separator, then the whole path; drive roots and
  // the server part of a UNC path exist or fail on their own.
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && !IsPathSeparator(path[i])) continue;
    const std::u16string prefix(path.substr(0, i));
    if (prefix.size() == 2 && prefix[1] == u':') continue;
    if (!CreateDirectoryW(Wide(prefix), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      const DWORD error = GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_NAME && error != ERROR_BAD_NETPATH) {
        return false;
      }
    }
  }
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(std::u16string_view path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t FileSize(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(std::u16string(path)), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RenameFile(std::u16string_view from, std::u16string_view to) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail.
  return MoveFileExW(Wide(std::u16string(from)), Wide(std::u16string(to)), 0) != 0;
}

bool AppendToFileExclusive(std::u16string_view path, std::string_view bytes) {
  // Appending with read-only sharing: readers may look at the log meanwhile, another
  // appender's open fails (a sharing violation) until this one has closed the file.
  ScopedHandle file(CreateFileW(Wide(std::u16string(path)), FILE_APPEND_DATA, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    static_cast<void>(file.release());
    return false;
  }
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return CloseHandle(file.release()) != 0;
}

}  // namespace qvpa::platform
