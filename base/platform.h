// The narrow operating-system layer of the runtime: process facts, environment and the
// few file operations the log writer needs. One implementation per platform
// (platform_posix.cc here); paths are UTF-16 and converted at this edge. Nothing here throws.
#ifndef QVPA_BASE_PLATFORM_H_
#define QVPA_BASE_PLATFORM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa::platform {

// The separator written between path components ("/" here).
char16_t PathSeparator();
// True for every character that separates path components on this platform.
bool IsPathSeparator(char16_t c);
// True when the path does not depend on a current directory.
bool IsAbsolutePath(std::u16string_view path);

// Full path of the process's executable (the host program when loaded as a library);
// empty when it cannot be found.
std::u16string ExecutablePath();
// The process's command-line parameters, the program at index 0.
std::vector<std::u16string> CommandLineParameters();
// Value of an environment variable; empty when it is not set.
std::optional<std::u16string> EnvironmentVariable(std::u16string_view name);

// The machine's network name; empty when it cannot be read.
std::u16string HostName();
// The operating system's name ("Linux", "Windows") and its version text ("6.1.0-13-amd64",
// "10.0.19045"); empty when they cannot be read.
std::u16string OsName();
std::u16string OsVersion();

// Creates the directory and every missing parent; true when it exists afterwards.
bool CreateDirectories(std::u16string_view path);
bool FileExists(std::u16string_view path);
// Size in bytes, -1 when the file's attributes cannot be read.
int64_t FileSize(std::u16string_view path);
// Renames without replacing an existing target; false on any failure.
bool RenameFile(std::u16string_view from, std::u16string_view to);

// Creates the file when missing, then appends `bytes` while holding the file exclusively
// against other appenders (an advisory lock taken without waiting), and closes it.
// False when the file cannot be opened, is held by another appender, or the write fails.
bool AppendToFileExclusive(std::u16string_view path, std::string_view bytes);

// True once the library is being unloaded because the process ends: the system has already
// ended every other thread wherever it was, so a lock one of them held stays held. What the
// library owns is then left to the system rather than destroyed. Always false where a
// library's unload does not end the other threads first.
bool ProcessEnding();

}  // namespace qvpa::platform

#endif  // QVPA_BASE_PLATFORM_H_
