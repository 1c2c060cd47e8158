// The application object's windowing services over the headless layer.
#include "base/windowing_headless.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/application.h"
#include "base/error_test_support.h"
#include "base/instance_lock.h"
#include "base/text.h"

extern char** environ;

namespace qvpa {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder for the log (QVPA_LOG_DIR) and the runtime folder of the guard
// (XDG_RUNTIME_DIR), and application objects over a headless layer whose message boxes
// land in errors_.
class WindowingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "qvpa-win-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    fs::create_directory(root_ / "run");
    ::setenv("QVPA_LOG_DIR", root_.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QVPA_LOG_DIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(root_);
  }

  // An application object with a headless layer; headless_ observes the layer.
  std::unique_ptr<tQV_Application> MakeApplication(std::vector<std::u16string> aCommandLine,
                                                   std::unique_ptr<HeadlessWindowing> aLayer = {}) {
    if (!aLayer) aLayer = std::make_unique<HeadlessWindowing>(errors_);
    headless_ = aLayer.get();
    return std::make_unique<tQV_Application>(aCommandLine, std::move(aLayer));
  }

  fs::path LogOf(const char* program) const {
    return root_ / "LogFiles" / (std::string(program) + ".log");
  }

  fs::path root_;
  std::ostringstream errors_;
  HeadlessWindowing* headless_ = nullptr;
};

TEST_F(WindowingTest, MessagesGoToTheLogAndInteractivelyToStandardError) {
  struct Case {
    bool batch;
    tQV_MessageType type;
    std::string shown;   // on the error stream
    std::string logged;  // in the log
  };
  const Case cases[] = {
      {true, tQV_MessageType::let_info, "", " - ERROR - hello\r\n"},
      {true, tQV_MessageType::let_error, "", " - ERROR - hello\r\n"},
      {false, tQV_MessageType::let_info, "Information: hello\n", " - hello\r\n"},
      {false, tQV_MessageType::let_error, "Error: hello\n", " - ERROR - hello\r\n"},
  };
  const fs::path log = LogOf("base_windowing_test");
  for (const Case& c : cases) {
    errors_.str("");
    fs::remove(log);
    {
      std::unique_ptr<tQV_Application> app =
          MakeApplication(c.batch ? std::vector<std::u16string>{u"host", u"/batch"}
                                  : std::vector<std::u16string>{u"host"});
      app->ShowMessageDialog(c.type, u"hello");
    }
    const std::string text = ReadAll(log);
    EXPECT_EQ(errors_.str(), c.shown) << c.batch << c.logged;
    EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    EXPECT_EQ(text.find("ERROR") != std::string::npos,
              c.logged.find("ERROR") != std::string::npos) << text;
  }
}

// Records, whenever a message box is written, whether the wait window was shown then.
class ObservingBuffer : public std::stringbuf {
 public:
  explicit ObservingBuffer(std::function<void()> aOnWrite) : on_write_(std::move(aOnWrite)) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    on_write_();
    return std::stringbuf::xsputn(s, n);
  }

 private:
  std::function<void()> on_write_;
};

TEST_F(WindowingTest, DisplayMessageHidesTheWaitWindowAndRestoresItsStandardCaption) {
  std::vector<bool> shown_during_message;
  ObservingBuffer buffer([&] { shown_during_message.push_back(headless_->WaitReport().shown); });
  std::ostream stream(&buffer);
  std::unique_ptr<tQV_Application> app =
      MakeApplication({u"host"}, std::make_unique<HeadlessWindowing>(stream));
  app->SetLanguage(u"en");

  app->DisplayMessage(tQV_MessageType::let_info, u"while hidden");
  EXPECT_FALSE(app->Wait().Started());  // not shown before, not shown after
  EXPECT_EQ(headless_->WaitReport().shows, 0);

  app->Wait().Start(u"Printing");
  EXPECT_EQ(headless_->WaitReport().layout.caption, u"Wait please ...\r\nPrinting");
  shown_during_message.clear();
  app->DisplayMessage(tQV_MessageType::let_error, u"paper out");
  ASSERT_FALSE(shown_during_message.empty());
  EXPECT_FALSE(shown_during_message.front());
  EXPECT_TRUE(app->Wait().Started());
  EXPECT_TRUE(headless_->WaitReport().shown);
  EXPECT_EQ(headless_->WaitReport().shows, 2);
  EXPECT_EQ(headless_->WaitReport().layout.caption, u"Wait please ...");
  EXPECT_EQ(buffer.str(), "Information: while hidden\nError: paper out\n");
}

TEST_F(WindowingTest, MessagesResourceWithLanguageFallbacks) {
  const std::string content =
      "it.E01:Valore %d\r\nE01.en:Value %d\nen.E01:Lang %d\nit.E01:first wins\n"
      "it.E02:Caff\xC3\xA8: pronto\nit.E03:Totale %s\nit.E04:%d di %d\n";
  for (const std::string& bytes : {content, "\xEF\xBB\xBF" + content}) {
    auto layer = std::make_unique<HeadlessWindowing>(errors_);
    layer->AddResource(u"Messages", bytes);
    std::unique_ptr<tQV_Application> app = MakeApplication({u"host"}, std::move(layer));
    EXPECT_EQ(app->GetMessage(u"E01", {int64_t{5}}), u"E01");  // no language: ".E01", "E01."
    app->SetLanguage(u"it");
    EXPECT_EQ(app->GetMessage(u"E01", {int64_t{5}}), u"Valore 5");
    EXPECT_EQ(app->GetMessage(u"E02"), u"Caffè");  // UTF-8; a value ends at its first ":"
    app->SetLanguage(u"fr");
    app->SetDefaultLanguage(u"en");
    EXPECT_EQ(app->GetMessage(u"E01", {int64_t{5}}), u"Value 5");
    app->SetLanguage(u"en");
    EXPECT_EQ(app->GetMessage(u"E01", {int64_t{5}}), u"Lang 5");

    // Directives that the values do not match fail with the formatter's error.
    app->SetLanguage(u"it");
    EXPECT_EQ(ErrorOf([&] { app->GetMessage(u"E03", {int64_t{7}}); }),
              u"Format 'Totale %s' invalid or incompatible with argument");
    EXPECT_EQ(ErrorOf([&] { app->GetMessage(u"E04", {int64_t{1}}); }),
              u"Format '%d di %d' invalid or incompatible with argument");
    EXPECT_EQ(ErrorOf([&] { app->GetMessage(u"E04"); }),
              u"Format '%d di %d' invalid or incompatible with argument");
    EXPECT_EQ(app->GetMessage(u"E04", {int64_t{1}, int64_t{3}, int64_t{9}}), u"1 di 3");
  }
  // The default layer of this driver carries no messages.
  tQV_Application plain(std::vector<std::u16string>{u"host"});
  plain.SetLanguage(u"it");
  EXPECT_EQ(plain.GetMessage(u"E01"), u"E01");
}

TEST_F(WindowingTest, NotifyIconRecord) {
  std::unique_ptr<tQV_Application> app = MakeApplication({u"host"});
  EXPECT_FALSE(app->NotifyIcon());
  app->CreateNotifyIcon(0x1234);
  const NotifyIconData& record = app->IconData();
  EXPECT_EQ(record.cbSize, 956u);
  EXPECT_EQ(record.hWnd, 0x1234u);
  EXPECT_EQ(record.uID, 1u);
  EXPECT_EQ(record.uFlags, 3u);
  EXPECT_EQ(record.uCallbackMessage, 1124u);
  EXPECT_EQ(record.hIcon, 0u);  // no program icon without a desktop
  EXPECT_TRUE(app->NotifyIcon());
  EXPECT_TRUE(headless_->IconShown());
  EXPECT_EQ(headless_->IconRecord().hWnd, 0x1234u);
  EXPECT_EQ(headless_->IconRecord().uFlags, 3u);

  app->DeleteNotifyIcon();
  EXPECT_FALSE(app->NotifyIcon());
  EXPECT_FALSE(headless_->IconShown());
  EXPECT_EQ(headless_->IconRecord().uFlags, 0u);
  EXPECT_EQ(headless_->IconRecord().uID, 1u);
}

TEST_F(WindowingTest, UnhandledFailuresEndTheProgramOnlyInBatchMode) {
  struct Case {
    bool batch, terminate_on_exception;
    std::u16string message;
    int ends;
  };
  const Case cases[] = {
      {true, true, u"boom", 1},  {true, true, u"", 1},    {true, false, u"boom", 0},
      {false, true, u"boom", 0}, {false, false, u"boom", 0},
  };
  for (const Case& c : cases) {
    int ends = 0;
    auto layer = std::make_unique<HeadlessWindowing>(errors_);
    layer->SetExitHook([&ends] { ++ends; });
    std::unique_ptr<tQV_Application> app =
        MakeApplication(c.batch ? std::vector<std::u16string>{u"host", u"/batch"}
                                : std::vector<std::u16string>{u"host"},
                        std::move(layer));
    app->SetTerminateOnExceptionIfBatch(c.terminate_on_exception);
    app->HandleException(c.message);
    EXPECT_EQ(ends, c.ends) << c.batch << c.terminate_on_exception << ToUtf8(c.message);
    EXPECT_EQ(app->LastError(), c.message);
  }
}

TEST_F(WindowingTest, TerminateCallsTheExitHookElseOnlyLogs) {
  int ends = 0;
  {
    auto layer = std::make_unique<HeadlessWindowing>(errors_);
    layer->SetExitHook([&ends] { ++ends; });
    MakeApplication({u"host"}, std::move(layer))->Terminate();
  }
  EXPECT_EQ(ends, 1);
  MakeApplication({u"host"})->Terminate();  // written out when destroyed
  EXPECT_NE(ReadAll(LogOf("base_windowing_test")).find(" - End of program requested; no exit hook is set.\r\n"),
            std::string::npos);
}

TEST_F(WindowingTest, SingleInstanceGuardInOneProcess) {
  const fs::path lock_file = root_ / "run" / "base_windowing_test.single-instance.lock";
  int ends = 0;
  auto layer = std::make_unique<HeadlessWindowing>(errors_);
  layer->SetExitHook([&ends] { ++ends; });
  std::unique_ptr<tQV_Application> app = MakeApplication({u"host"}, std::move(layer));

  app->SetSingleInstance(true);
  EXPECT_TRUE(fs::exists(lock_file));
  app->SetSingleInstance(true);  // the current value: the guard is not asked for again
  EXPECT_EQ(app->LastError(), u"");
  EXPECT_TRUE(AcquireInstanceLock(u"base_windowing_test").held_elsewhere);
  app->SetSingleInstance(false);
  {
    // Released: another holder gets it, and this object then meets a conflict.
    InstanceLockResult other = AcquireInstanceLock(u"base_windowing_test");
    ASSERT_NE(other.lock, nullptr);
    app->SetSingleInstance(true);
    EXPECT_EQ(app->LastError(), u"Impossible to enter single instance mode.");
    EXPECT_EQ(errors_.str(), "Error: Impossible to enter single instance mode.\n");
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(app->SingleInstance());  // stays requested, without the guard
  }
  app->SetSingleInstance(false);  // holds nothing: nothing to release
  app->SetSingleInstance(true);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(AcquireInstanceLock(u"base_windowing_test").held_elsewhere);
}

TEST_F(WindowingTest, SingleInstanceGuardFolderAndFailure) {
  // Without a runtime folder the guard lives in the temporary folder.
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", root_.c_str(), 1);
  InstanceLockResult in_temp = AcquireInstanceLock(u"probe");
  ::unsetenv("TMPDIR");
  EXPECT_NE(in_temp.lock, nullptr);
  EXPECT_TRUE(fs::exists(root_ / "probe.single-instance.lock"));

  // A folder that cannot hold the guard: the failure is logged and the program goes on.
  const std::string missing = (root_ / "missing").string();
  ::setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
  int ends = 0;
  auto layer = std::make_unique<HeadlessWindowing>(errors_);
  layer->SetExitHook([&ends] { ++ends; });
  std::unique_ptr<tQV_Application> app = MakeApplication({u"host"}, std::move(layer));
  app->SetSingleInstance(true);
  EXPECT_EQ(app->LastError(),
            u"Single instance guard unavailable: " + FromUtf8(missing) +
                u"/base_windowing_test.single-instance.lock: No such file or directory");
  EXPECT_EQ(ends, 0);
  EXPECT_EQ(errors_.str(), "");
}

// A running base_instance_probe: standard input and output through pipes, standard error
// into a file. Killed and reaped when destroyed if still running.
class Probe {
 public:
  explicit Probe(const fs::path& aErrors) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, aErrors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char program[] = QVPA_INSTANCE_PROBE;
    char* argv[] = {program, nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~Probe() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) ::close(input_);
    ::close(output_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // Standard output up to its end (the probe says "held" and then waits for its input).
  std::string ReadLine() {
    std::string line;
    char c;
    while (::read(output_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void CloseInput() {
    ::close(input_);
    input_ = -1;
  }
  void Kill() { ::kill(pid_, SIGKILL); }
  // The exit code, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

TEST_F(WindowingTest, SingleInstanceGuardExcludesASecondProcessUntilTheFirstDies) {
  Probe first(root_ / "first.err");
  ASSERT_EQ(first.ReadLine(), "held");

  Probe second(root_ / "second.err");
  EXPECT_EQ(second.ReadLine(), "");  // told to end without taking the guard
  EXPECT_EQ(second.Wait(), 3);
  EXPECT_EQ(ReadAll(root_ / "second.err"), "Error: Impossible to enter single instance mode.\n");
  EXPECT_NE(ReadAll(LogOf("base_instance_probe"))
                .find(" - ERROR - Impossible to enter single instance mode.\r\n"),
            std::string::npos);

  first.Kill();  // the system releases the guard of a killed process
  EXPECT_EQ(first.Wait(), 128 + SIGKILL);

  Probe third(root_ / "third.err");
  ASSERT_EQ(third.ReadLine(), "held");
  third.CloseInput();
  EXPECT_EQ(third.Wait(), 0);
  EXPECT_EQ(ReadAll(root_ / "third.err"), "");
}

}  // namespace
}  // namespace qvpa
