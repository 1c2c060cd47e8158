// The DLL channel with a small shared library built beside the tests.
#include "io/io_handler_dll.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error_test_support.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::TempDir;

kConnection LibraryConnection(const std::string& name) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::DLL);
  connection.SetLibraryName(FromUtf8(name));
  return connection;
}

TEST(DllChannelTest, LoadsTheLibraryAndHandsOutItsExports) {
  TempDir dir;
  auto channel = std::make_unique<kIOHandler_Dll>(LibraryConnection(QVPA_TEST_LIBRARY), dir.u16(), u"DLL_TEST");
  using Add = int (*)(int, int);
  const auto add = reinterpret_cast<Add>(channel->GetAddress(u"qvpa_test_add"));
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(ErrorOf([&] { channel->GetAddress(u"qvpa_missing"); }),
            u"Unable to get address for procedure qvpa_missing");

  EXPECT_TRUE(channel->Write(u"ignored"));
  EXPECT_TRUE(channel->Connected());
  EXPECT_TRUE(channel->Disconnect());
  const uint8_t cr[] = {13};
  EXPECT_EQ(channel->ReadChars(4), u"");
  EXPECT_EQ(channel->ReadUpTo(cr), u"");
  EXPECT_EQ(ErrorOf([&] { channel->ReadAll(); }), u"ReadAll Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel->InputBufferContainsData(); }), u"InputBufferContainsData Unsupported");

  const auto lines = CloseAndReadLog(channel);
  const std::vector<std::string> expected = {
      " - *************************** START ***************************",
      " - kIOHandler_Dll.Create:Loading DLL " + std::string(QVPA_TEST_LIBRARY),
      " - kIOHandler_Dll.Create:DLL Loaded successfully",
      " - kIOHandler_Dll.Destroy:Unloading DLL",
      " - kIOHandler_Dll.Destroy:DLL Unloaded Successfully",
      " - *************************** STOP ****************************"};
  EXPECT_EQ(lines, expected);
}

TEST(DllChannelTest, MissingLibraryFailsConstructionWithTheSystemText) {
  TempDir dir;
  const std::string missing = (dir.path() / "libabsent.so").string();
  std::u16string message;
  try {
    kIOHandler_Dll channel(LibraryConnection(missing), dir.u16(), u"DLL_TEST");
    ADD_FAILURE() << "loaded a missing library";
  } catch (const EQVError& e) {
    message = e.Message();
  }
  const std::u16string prefix = u"Unable to Load Library " + FromUtf8(missing) + u". ";
  EXPECT_EQ(message.rfind(prefix, 0), 0u) << ToUtf8(message);
  // The system's own text sits between the name and the code (its wording differs
  // between systems); 126 is the code of a module that cannot be found.
  ASSERT_GT(message.size(), prefix.size() + 6) << ToUtf8(message);
  EXPECT_EQ(message.substr(message.size() - 6), u" [126]");

  // The failed channel's log: start banner, the loading line, stop banner.
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  const auto lines = testing_io::ReadLogLines(FromUtf8(files[0].string()));
  const std::vector<std::string> expected = {
      " - *************************** START ***************************",
      " - kIOHandler_Dll.Create:Loading DLL " + missing,
      " - *************************** STOP ****************************"};
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace qvpa
