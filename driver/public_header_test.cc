// The public header against the library: included first (it must stand alone in C++), then
// the library's own declarations, so that a declaration of the header that differs from the
// library's (name, types, calling convention) does not compile. The calls go to the shared
// library through the header's declarations.
#include "include/QVPA_SATISPAY_10.h"

#include <type_traits>

#include <gtest/gtest.h>

#include "driver/exports.h"

namespace {

static_assert(std::is_same_v<decltype(&::OPEN), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::CLOSE), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::PAY), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::REPRINT), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::GETSTATUS), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::DAYCLOSE), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::GETTOTALS), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::VERIFYTRAN), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::VERSION), QVPA_SATISPAY_10_EXPORT>);
static_assert(std::is_same_v<decltype(&::GENERATE_KEYID), QVPA_SATISPAY_10_EXPORT>);

TEST(PublicHeaderTest, StringsMadeByTheLibraryKeepTheirLength) {
  BSTR text = SysAllocString(u"QVPA_SATISPAY_10");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 16u);
  BSTR zeroed = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(SysStringLen(zeroed), 3u);
  EXPECT_EQ(zeroed[0], u'\0');
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(zeroed);
  SysFreeString(text);
  SysFreeString(nullptr);
}

TEST(PublicHeaderTest, VersionAnswersThroughTheHeadersDeclaration) {
  QVPA_SATISPAY_10_EXPORT version = &VERSION;
  BSTR name = SysAllocString(u"QVPA_SATISPAY_10");
  BSTR out = nullptr;
  BSTR err = nullptr;
  EXPECT_EQ(version(name, &out, &err), 0);
  EXPECT_GT(SysStringLen(out), 0u);
  EXPECT_EQ(err, nullptr);
  SysFreeString(out);
  SysFreeString(name);

  BSTR unknown = SysAllocString(u"NO_SUCH_DRIVER");
  out = nullptr;
  EXPECT_EQ(version(unknown, &out, &err), 0);
  EXPECT_EQ(out, nullptr);
  SysFreeString(unknown);
}

}  // namespace
