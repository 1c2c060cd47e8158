#include "base/log_writer.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/format_settings.h"
#include "base/platform.h"
#include "base/text.h"

namespace qvpa {
namespace {

namespace fs = std::filesystem;

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "qvpa-log-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::u16string Dir() const { return FromUtf8(dir_.string()); }
  // aFolder and aName joined as the writer joins them.
  static std::u16string In(const std::u16string& aFolder, std::u16string_view aName) {
    return aFolder + platform::PathSeparator() + std::u16string(aName);
  }

  static std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Lines of a file that must end every line with CR LF.
  static std::vector<std::string> ReadLines(const fs::path& path) {
    const std::string all = ReadAll(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < all.size()) {
      const size_t end = all.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "unterminated line in " << path;
      if (end == std::string::npos) break;
      lines.push_back(all.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // The message part of a stamped info line.
  static std::string Message(const std::string& line) {
    const size_t sep = line.find(" - ");
    return sep == std::string::npos ? std::string() : line.substr(sep + 3);
  }

  fs::path dir_;
};

TEST_F(LogWriterTest, StampsAndMarksLinesInUtf8WithCrLf) {
  {
    tQV_LogWriter writer(u"abc", Dir(), 0, false);
    EXPECT_EQ(writer.FileName(), In(Dir(), u"abc.log"));
    EXPECT_EQ(writer.GetLogFileSize(), -1);  // created with the first line only
    writer.Write(tQV_MessageType::let_info, u"hello");
    writer.Write(tQV_MessageType::let_error, u"caf\u00e9 \u20ac");
  }
  const std::string all = ReadAll(dir_ / "abc.log");
  ASSERT_GE(all.size(), 3u);
  EXPECT_NE(all.substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
  const std::vector<std::string> lines = ReadLines(dir_ / "abc.log");
  ASSERT_EQ(lines.size(), 2u);
  const std::regex info(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} - hello)");
  const std::regex error(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} - ERROR - caf\xC3\xA9 \xE2\x82\xAC)");
  EXPECT_TRUE(std::regex_match(lines[0], info)) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], error)) << lines[1];
}

TEST_F(LogWriterTest, CutsMessagesOnlyWithALimit) {
  const std::u16string long_message(1000, u'x');
  for (int32_t limit : {0, -1, 100, 1000, 1001}) {
    const std::u16string name = u"cut" + IntToStr(limit);
    {
      tQV_LogWriter writer(name, Dir(), limit, false);
      EXPECT_EQ(writer.MaxMessageLength(), limit);
      writer.Write(tQV_MessageType::let_info, long_message);
    }
    const auto lines = ReadLines(dir_ / ToUtf8(name + u".log"));
    ASSERT_EQ(lines.size(), 1u);
    const size_t expected = limit == 100 ? 100 : 1000;
    EXPECT_EQ(Message(lines[0]), std::string(expected, 'x')) << limit;
  }
}

TEST_F(LogWriterTest, DailyNameCarriesTheCreationDate) {
  const std::u16string before = FormatDateTime(u"yyyymmdd", Now());
  tQV_LogWriter writer(u"abc", Dir() + u"/deep/er", 0, true);
  const std::u16string after = FormatDateTime(u"yyyymmdd", Now());
  EXPECT_TRUE(writer.Daily());
  EXPECT_TRUE(writer.FileName() == In(Dir() + u"/deep/er", u"abc_" + before + u".log") ||
              writer.FileName() == In(Dir() + u"/deep/er", u"abc_" + after + u".log"))
      << ToUtf8(writer.FileName());
  EXPECT_TRUE(fs::is_directory(dir_ / "deep" / "er"));  // parents created with it
}

TEST_F(LogWriterTest, FileNameAndDirectoryChanges) {
  tQV_LogWriter writer(u"abc", Dir(), 0, false);
  writer.SetFileName(u"/elsewhere/sub/other.txt");
  EXPECT_EQ(writer.FileName(), In(Dir(), u"other.txt"));  // only the last component is taken
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
  writer.SetDirectory(Dir() + u"/moved/here");
  EXPECT_EQ(writer.Directory(), Dir() + u"/moved/here");
  EXPECT_EQ(writer.FileName(), In(Dir() + u"/moved/here", u"other.txt"));
  EXPECT_TRUE(fs::is_directory(dir_ / "moved" / "here"));
}

TEST_F(LogWriterTest, EmptyDirectoryFailsCreation) {
  EXPECT_THROW(tQV_LogWriter(u"abc", u"", 0, false), EQVError);
}

TEST_F(LogWriterTest, UncreatableDirectoryDropsLinesQuietly) {
  std::ofstream(dir_ / "plainfile") << "x";
  tQV_LogWriter writer(u"abc", Dir() + u"/plainfile/sub", 0, false);
  writer.Write(tQV_MessageType::let_info, u"lost");  // fails its attempts on the log thread
  EXPECT_EQ(writer.GetLogFileSize(), -1);
}

TEST_F(LogWriterTest, ManyThreadsLoseNothingAndKeepEachThreadsOrder) {
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  {
    tQV_LogWriter writer(u"load", Dir(), 0, false);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&writer, t] {
        for (int i = 0; i < kLines; ++i) {
          writer.Write(tQV_MessageType::let_info, u"T" + IntToStr(t) + u" " + IntToStr(i));
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  const auto lines = ReadLines(dir_ / "load.log");
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(Message(line).c_str(), "T%d %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(i, next[t]) << "thread " << t << " out of order";
    next[t] = i + 1;
  }
}

TEST_F(LogWriterTest, DestructionRightAfterWritesFindsEveryLineInOrder) {
  {
    tQV_LogWriter writer(u"burst", Dir(), 0, false);
    for (int i = 0; i < 500; ++i) writer.Write(tQV_MessageType::let_info, IntToStr(i));
  }
  const auto lines = ReadLines(dir_ / "burst.log");
  ASSERT_EQ(lines.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(Message(lines[i]), std::to_string(i));
}

// Rolled-aside files: name_<17 digits>.log beside the current file.
std::vector<fs::path> RolledFiles(const fs::path& dir, const std::string& stem) {
  const std::regex pattern(stem + R"(_\d{17}\.log)");
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (std::regex_match(entry.path().filename().string(), pattern)) found.push_back(entry.path());
  }
  return found;
}

TEST_F(LogWriterTest, RollsOverOnlyAboveTheLimit) {
  struct Case {
    int32_t limit_kib;  // 0: keep the default
    uintmax_t initial_size;
    bool rolled;
  };
  const Case cases[] = {
      {1, 1024, false}, {1, 1025, true}, {0, 5120000, false}, {0, 5120001, true}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string stem = "roll" + std::to_string(n++);
    const fs::path file = dir_ / (stem + ".log");
    std::ofstream(file).close();
    fs::resize_file(file, c.initial_size);
    {
      tQV_LogWriter writer(FromUtf8(stem), Dir(), 0, false);
      EXPECT_EQ(writer.MaxLogFileSize(), 5000);
      if (c.limit_kib > 0) writer.SetMaxLogFileSize(c.limit_kib);
      writer.Write(tQV_MessageType::let_info, u"next");
    }
    const auto rolled = RolledFiles(dir_, stem);
    if (c.rolled) {
      ASSERT_EQ(rolled.size(), 1u) << stem;
      EXPECT_EQ(fs::file_size(rolled[0]), c.initial_size);
      ASSERT_EQ(ReadLines(file).size(), 1u);  // the line went into a new file
    } else {
      EXPECT_TRUE(rolled.empty()) << stem;
      EXPECT_GT(fs::file_size(file), c.initial_size);
    }
  }
}

TEST_F(LogWriterTest, SmallLimitMovesTheFileAsideOnceItExceedsIt) {
  const std::u16string line(110, u'y');
  {
    tQV_LogWriter writer(u"small", Dir(), 0, false);
    writer.SetMaxLogFileSize(1);
    // Lines of 138 bytes: the 9th line finds 1104 > 1024 bytes and moves the file aside.
    for (int i = 0; i < 9; ++i) writer.Write(tQV_MessageType::let_info, line);
  }
  const auto rolled = RolledFiles(dir_, "small");
  ASSERT_EQ(rolled.size(), 1u);
  EXPECT_EQ(ReadLines(rolled[0]).size(), 8u);
  EXPECT_GT(fs::file_size(rolled[0]), 1024u);
  EXPECT_EQ(ReadLines(dir_ / "small.log").size(), 1u);
}

// Holds the exclusive append lock on a file, as another writer does while appending.
#if defined(_WIN32)
// There, an open for writing that shares only reading, as the appender's own open does.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
  }
  ~HeldFile() { Release(); }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};
#else
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~HeldFile() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};
#endif

TEST_F(LogWriterTest, FileHeldBrieflyDelaysALineButLosesNothing) {
  const fs::path file = dir_ / "held.log";
  HeldFile held(file);
  {
    tQV_LogWriter writer(u"held", Dir(), 0, false);
    writer.Write(tQV_MessageType::let_info, u"first");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fs::file_size(file), 0u);  // still waiting for the file
    held.Release();
    writer.Write(tQV_MessageType::let_info, u"second");
  }
  const auto lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Message(lines[0]), "first");
  EXPECT_EQ(Message(lines[1]), "second");
}

TEST_F(LogWriterTest, FileHeldBeyondTheAttemptsLosesOnlyThatLine) {
  const fs::path file = dir_ / "long.log";
  {
    HeldFile held(file);
    tQV_LogWriter writer(u"long", Dir(), 0, false);
    writer.Write(tQV_MessageType::let_info, u"dropped");
    std::this_thread::sleep_for(std::chrono::milliseconds(900));  // past 10 attempts 50 ms apart
    held.Release();
    writer.Write(tQV_MessageType::let_info, u"kept");
  }
  const auto lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Message(lines[0]), "kept");
}

TEST_F(LogWriterTest, TwoWritersOnOneFileInterleaveWholeLines) {
  {
    tQV_LogWriter a(u"shared", Dir(), 0, false);
    tQV_LogWriter b(u"shared", Dir(), 0, false);
    std::thread ta([&a] {
      for (int i = 0; i < 100; ++i) a.Write(tQV_MessageType::let_info, u"A" + IntToStr(i));
    });
    for (int i = 0; i < 100; ++i) b.Write(tQV_MessageType::let_info, u"B" + IntToStr(i));
    ta.join();
  }
  const auto lines = ReadLines(dir_ / "shared.log");
  ASSERT_EQ(lines.size(), 200u);
  int next_a = 0, next_b = 0;
  for (const std::string& line : lines) {
    const std::string m = Message(line);
    ASSERT_FALSE(m.empty()) << line;
    int& next = m[0] == 'A' ? next_a : next_b;
    EXPECT_EQ(m.substr(1), std::to_string(next)) << line;
    ++next;
  }
}

}  // namespace
}  // namespace qvpa
