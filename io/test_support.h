// Test helpers for the io tests: a temporary directory removed at scope end, and
// the lines of a log file with their time stamps removed.
#ifndef QVPA_IO_TEST_SUPPORT_H_
#define QVPA_IO_TEST_SUPPORT_H_

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"

namespace qvpa::testing_io {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("qvpa_io_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::u16string u16() const { return FromUtf8(path_.string()); }

 private:
  std::filesystem::path path_;
};

// Lines of the log file without the 23-character stamp, so each starts with the
// marker: " - text" or " - ERROR - text". Line ends must be CR LF; a line that
// continues a message holding CR LF has no stamp and is kept whole.
// "yyyy-mm-dd hh:mm:ss:zzz" at the start of the line.
inline bool HasStamp(const std::string& line) {
  static constexpr char kPattern[] = "dddd-dd-dd dd:dd:dd:ddd";
  if (line.size() < 23) return false;
  for (size_t i = 0; i < 23; ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : line[i] != kPattern[i]) return false;
  }
  return true;
}

inline std::vector<std::string> ReadLogLines(const std::u16string& file) {
  std::ifstream in(ToUtf8(file), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string all = ss.str();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find("\r\n", start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    lines.push_back(HasStamp(line) ? line.substr(23) : line);
    start = end + 2;
  }
  return lines;
}

inline bool HasLine(const std::vector<std::string>& aLines, const std::string& aLine) {
  return std::find(aLines.begin(), aLines.end(), aLine) != aLines.end();
}

// The lines one per row, for failure messages.
inline std::string DumpLines(const std::vector<std::string>& aLines) {
  std::string all;
  for (const auto& line : aLines) all += line + "\n";
  return all;
}

// Destroys the channel (its writer drains the queue first) and returns its log's lines.
template <class Channel>
std::vector<std::string> CloseAndReadLog(std::unique_ptr<Channel>& aChannel) {
  const std::u16string file = aChannel->GetLogFileName();
  aChannel.reset();
  return ReadLogLines(file);
}

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_TEST_SUPPORT_H_
