#include "base/application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "base/text_helpers.h"
#include "base/windowing_headless.h"

namespace qvpa {
namespace {

namespace fs = std::filesystem;

// Points QVPA_LOG_DIR at a fresh folder for the test's application objects.
class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "qvpa-app-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    ::setenv("QVPA_LOG_DIR", root_.string().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QVPA_LOG_DIR");
    fs::remove_all(root_);
  }

  static std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path root_;
};

TEST_F(ApplicationTest, CreationPublishesLogsAndReadsVersion) {
  const fs::path log = root_ / "LogFiles" / "base_application_test.log";
  ASSERT_EQ(QVApplication(), nullptr);
  {
    tQV_ApplicationScope scope({u"cassa", u"/batch"});
    tQV_Application* app = QVApplication();
    ASSERT_EQ(app, &scope.Application());
    EXPECT_TRUE(app->IsBatch());
    EXPECT_FALSE(app->IsDebug());
    EXPECT_FALSE(app->IsTest());
    EXPECT_TRUE(fs::is_directory(root_ / "LogFiles"));
    EXPECT_FALSE(fs::exists(log));  // created with the first line
    EXPECT_EQ(app->GetLogFileName(), FromUtf8(log.string()));
    EXPECT_EQ(app->Info().Version(), u"1.03");
    EXPECT_EQ(app->Info().ReleaseDate(), TryEncodeDateTime(2022, 8, 23, 0, 0, 0, 0).value());
    app->Log(tQV_MessageType::let_info, u"started");
    app->Log(tQV_MessageType::let_error, u"went wrong");
    EXPECT_EQ(app->LastError(), u"went wrong");
  }
  EXPECT_EQ(QVApplication(), nullptr);
  const std::string text = ReadAll(log);  // written out by the scope's end
  EXPECT_NE(text.find(" - started\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" - ERROR - went wrong\r\n"), std::string::npos) << text;
}

TEST_F(ApplicationTest, SwitchesIgnoreCaseAndTakeValues) {
  struct Case {
    std::vector<std::u16string> command_line;
    bool batch, debug, test;
  };
  const Case cases[] = {
      {{u"host"}, false, false, false},
      {{u"/BATCH"}, false, false, false},  // the program itself is not a parameter
      {{u"host", u"/Debug:1", u"/test=yes"}, false, true, true},
      {{u"host", u"/BATCHES", u"/debugger"}, false, false, false},
      {{u"host", u"/TEST", u"/BATCH="}, true, false, true},
  };
  for (const Case& c : cases) {
    tQV_Application app(c.command_line);
    EXPECT_EQ(app.IsBatch(), c.batch);
    EXPECT_EQ(app.IsDebug(), c.debug);
    EXPECT_EQ(app.IsTest(), c.test);
  }
  tQV_Application app(std::vector<std::u16string>{u"host"});
  app.ForceIsBatch();
  EXPECT_TRUE(app.IsBatch());
}

TEST_F(ApplicationTest, NestedScopesRestoreThePreviousObject) {
  tQV_ApplicationScope outer({u"host"});
  {
    tQV_ApplicationScope inner({u"host", u"/debug"});
    EXPECT_TRUE(QVApplication()->IsDebug());
  }
  EXPECT_EQ(QVApplication(), &outer.Application());
}

TEST_F(ApplicationTest, LogDirectoryChanges) {
  tQV_Application app(std::vector<std::u16string>{u"host"});
  app.ChangeLogDirectory(u"Device2");
  EXPECT_EQ(app.GetLogDirectory(), FromUtf8((root_ / "LogFiles" / "Device2").string()));
  EXPECT_EQ(app.GetLogFileName(),
            FromUtf8((root_ / "LogFiles" / "Device2" / "base_application_test.log").string()));
  EXPECT_TRUE(fs::is_directory(root_ / "LogFiles" / "Device2"));
  const fs::path absolute = root_ / "abs" / "dir";
  app.ChangeLogDirectory(FromUtf8(absolute.string()));
  EXPECT_TRUE(fs::is_directory(absolute));
  app.ChangeLogFilename(u"/x/y/renamed.log");
  EXPECT_EQ(app.GetLogFileName(), FromUtf8((absolute / "renamed.log").string()));
}

TEST_F(ApplicationTest, MessagesFallBackFromLanguageToDefaultToIdentifier) {
  tQV_Application app(std::vector<std::u16string>{u"host"});
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"E01");
  app.AddMessages(
      u"it.E01:Valore %d\r\nE01.en:Value %d\nen.E01:Lang %d\nit.E01:second wins not\n"
      u"it.E02:a:b\n");
  app.SetLanguage(u"it");
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"Valore 5");
  EXPECT_EQ(app.GetMessage(u"E02"), u"a");  // a value ends at its first ":"
  app.SetLanguage(u"");
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"E01");
  app.SetDefaultLanguage(u"en");
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"Value 5");
  app.SetLanguage(u"en");
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"Lang 5");
  app.SetLanguage(u"IT");  // keys are case-sensitive
  EXPECT_EQ(app.GetMessage(u"E01", {int64_t{5}}), u"Value 5");
  EXPECT_THROW(app.GetMessage(u"e%d"), EQVError);  // a directive without a value
}

TEST(FormatTextTest, Directives) {
  struct Case {
    std::u16string format;
    std::vector<FormatArg> values;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"E01", {int64_t{5}}, u"E01"},
      {u"%d items", {int64_t{-12}}, u"-12 items"},
      {u"[%5d][%-5d][%.3d]", {int64_t{7}, int64_t{8}, int64_t{9}}, u"[    7][8    ][009]"},
      {u"%s=%s", {std::u16string(u"a"), std::u16string(u"b")}, u"a=b"},
      {u"%1:s %0:s %s", {std::u16string(u"x"), std::u16string(u"y")}, u"y x y"},
      {u"%.2s", {std::u16string(u"abc")}, u"ab"},
      {u"%x", {int64_t{255}}, u"FF"},
      {u"%.2f|%f", {1.005, int64_t{3}}, u"1.00|3.00"},
      {u"%n", {1234567.891}, u"1,234,567.89"},
      {u"%n", {-123.0}, u"-123.00"},
      {u"100%%", {}, u"100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatText(c.format, c.values), c.expected) << ToUtf8(c.format);
  }
  const std::pair<std::u16string, std::vector<FormatArg>> bad[] = {
      {u"%d", {}},
      {u"%d", {std::u16string(u"x")}},
      {u"%s", {int64_t{1}}},
      {u"%q", {int64_t{1}}},
      {u"%", {int64_t{1}}},
      {u"%u", {int64_t{-1}}},
      {u"%5:d", {int64_t{1}}},
  };
  for (const auto& [format, values] : bad) {
    try {
      FormatText(format, values);
      ADD_FAILURE() << "accepted " << ToUtf8(format);
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), u"Format '" + format + u"' invalid or incompatible with argument");
    }
  }
}

TEST_F(ApplicationTest, TimersNest) {
  tQV_Application app(std::vector<std::u16string>{u"host"});
  EXPECT_EQ(app.GetTimerCount(), 0);
  try {
    app.StopTimer();
    ADD_FAILURE() << "no timer was running";
  } catch (const EQVError& e) {
    EXPECT_EQ(e.Message(), u"Unbalanced stack or queue operation");
  }
  EXPECT_THROW(app.GetTimerValue(), EQVError);
  app.StartTimer();
  app.StartTimer();
  EXPECT_GE(app.GetTimerValue(), 0);
  EXPECT_EQ(app.GetTimerCount(), 2);
  EXPECT_GE(app.StopTimer(), 0);
  EXPECT_EQ(app.GetTimerCount(), 1);
}

TEST_F(ApplicationTest, MessagesWithoutWindowsGoToTheLog) {
  const fs::path log = root_ / "LogFiles" / "base_application_test.log";
  {
    tQV_ApplicationScope scope({u"host", u"/batch"});
    ShowMessageDialog(tQV_MessageType::let_info, u"shown as error in batch");
    scope.Application().HandleException(u"boom");
    scope.Application().HandleException(u"");
    EXPECT_EQ(scope.Application().LastError(), u"boom");
  }
  {
    std::ostringstream unseen;
    // A layer without a desktop, on every platform: no box may wait for a click here.
    tQV_ApplicationScope scope({u"host"}, std::make_unique<HeadlessWindowing>(unseen));
    DisplayMessage(tQV_MessageType::let_info, u"plain info");
  }
  DisplayMessage(tQV_MessageType::let_error, u"no object: ignored");
  const std::string text = ReadAll(log);
  EXPECT_NE(text.find(" - ERROR - shown as error in batch\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" - ERROR - boom\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" - plain info\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("ignored"), std::string::npos);
}

}  // namespace
}  // namespace qvpa
