#include "fuzz/fuzz_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace qvpa::fuzzing {
namespace {

std::string gRefusedHost;
std::filesystem::path gLogRoot;

// Bound, not listening: the kernel answers every connection attempt with a reset.
std::string BindRefusingPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("bind");
  }
  // The descriptor stays open for the life of the process, keeping the port taken.
  return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// Every input writes device logs and a journal database, and removes them again: on a
// memory-backed folder that costs no disk writes or syncs. TMPDIR, when set, decides.
std::filesystem::path LogParent() {
  std::error_code ignored;
  if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", ignored) &&
      ::access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

}  // namespace

void PrepareProcess() {
  if (!gRefusedHost.empty()) return;
  gRefusedHost = BindRefusingPort();
  setenv("QVPA_SATISPAY_HOST", gRefusedHost.c_str(), 1);
  setenv("QVPA_SATISPAY_STAGING_HOST", gRefusedHost.c_str(), 1);
  std::string folder = (LogParent() / "qvpa-fuzz-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) throw std::runtime_error("mkdtemp");
  gLogRoot = folder;
  setenv("QVPA_LOG_DIR", folder.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(gLogRoot, ignored);
  });
}

const std::string& RefusedHost() { return gRefusedHost; }

void ClearDeviceLogs() {
  std::error_code ignored;
  std::filesystem::remove_all(gLogRoot / "LogFiles" / "Payment", ignored);
}

std::vector<std::string_view> Split(std::string_view aInput, char aSeparator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t end = aInput.find(aSeparator, start);
    parts.push_back(aInput.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace qvpa::fuzzing
