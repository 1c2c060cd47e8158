#include "base/setup.h"

#include <gtest/gtest.h>

namespace qvpa {
namespace {

TEST(SetupTest, NamesIgnoreCaseAndKeepFirstSpellingAndOrder) {
  tQV_Setup setup;
  setup.Define(u"PORT");
  setup.SetValue(u"Speed", int64_t{9600});
  EXPECT_TRUE(std::holds_alternative<std::monostate>(setup.GetValue(u"port")));
  setup.SetValue(u"Port", std::u16string(u"COM3"));
  EXPECT_EQ(std::get<std::u16string>(setup.GetValue(u"port")), u"COM3");
  setup.SetValue(u"SPEED", 1.5);
  EXPECT_EQ(std::get<double>(setup.GetValue(u"speed")), 1.5);

  ASSERT_EQ(setup.Entries().size(), 2u);
  EXPECT_EQ(setup.Entries()[0]->Name(), u"PORT");
  EXPECT_EQ(setup.Entries()[1]->Name(), u"Speed");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(setup.GetValue(u"missing")));
}

}  // namespace
}  // namespace qvpa
