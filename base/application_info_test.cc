#include "base/application_info.h"

#include <gtest/gtest.h>

#include <map>

#include "base/error.h"
#include "base/format_settings.h"

namespace qvpa {
namespace {

// A string table given as a map of identifier -> text.
StringSource Table(std::map<int32_t, std::u16string> entries) {
  return [entries = std::move(entries)](int32_t id) {
    const auto it = entries.find(id);
    return it == entries.end() ? std::u16string() : it->second;
  };
}

TDateTime Date(int y, int m, int d) { return TryEncodeDateTime(y, m, d, 0, 0, 0, 0).value(); }

TEST(ApplicationInfoTest, ReadsTheDriversOwnTable) {
  tQV_ApplicationInfo info;
  info.Load();
  EXPECT_EQ(info.Description(), u"MXR Driver - Satispay Protocol (IT)");
  EXPECT_FALSE(info.Copyright().empty());
  EXPECT_EQ(info.Version(), u"1.03");
  EXPECT_EQ(info.ReleaseDate(), Date(2022, 8, 23));
  ASSERT_EQ(info.History().size(), 3u);
  EXPECT_EQ(info.History()[0]->Version(), u"1.01");
  EXPECT_EQ(info.History()[0]->ReleaseDate(), Date(2022, 8, 11));
  EXPECT_EQ(info.History()[0]->Text(), std::vector<std::u16string>{u"Initial Release"});
  EXPECT_EQ(info.History()[1]->ReleaseDate(), Date(2022, 8, 22));
  EXPECT_EQ(info.History()[2]->Version(), u"1.03");
  EXPECT_FALSE(info.History()[2]->Author().empty());
#if defined(_WIN32)
  // The user's short date form: Windows has no C locale.
  EXPECT_EQ(info.GetVersionString(), u"[1.03 - " + DateToShortText(Date(2022, 8, 23)) + u"]");
#else
  EXPECT_EQ(info.GetVersionString(), u"[1.03 - 23/08/2022]");  // C locale short date
#endif
}

TEST(ApplicationInfoTest, ElevenEmptyIdentifiersEndTheReading) {
  const std::map<int32_t, std::u16string> head = {
      {10000, u"$APPDESCRIPTION=d"}, {10001, u"$COPYRIGHT=c"}, {10002, u"$VERSION=1"}};
  auto ten_gap_table = head;
  ten_gap_table[10013] = u"$VERSION=2";  // 10003..10012: ten empty, then read
  tQV_ApplicationInfo ten_gap;
  ten_gap.Load(Table(ten_gap_table));
  EXPECT_EQ(ten_gap.Version(), u"2");

  auto eleven_gap_table = head;
  eleven_gap_table[10014] = u"$VERSION=2";  // 10003..10013: eleven empty end the reading
  tQV_ApplicationInfo eleven_gap;
  eleven_gap.Load(Table(eleven_gap_table));
  EXPECT_EQ(eleven_gap.Version(), u"1");
  EXPECT_EQ(eleven_gap.History().size(), 1u);
}

TEST(ApplicationInfoTest, KeysIgnoreCaseButNotBlanks) {
  tQV_ApplicationInfo info;
  info.Load(Table({{10000, u"$version=1.0=beta"},
                   {10001, u"$VERSION =2.0"},
                   {10002, u"$Text= kept as is "},
                   {10003, u"$copyright=(c)"}}));
  EXPECT_EQ(info.Version(), u"1.0=beta");
  ASSERT_EQ(info.History().size(), 1u);
  EXPECT_EQ(info.History()[0]->Text(), std::vector<std::u16string>{u" kept as is "});
  EXPECT_EQ(info.Copyright(), u"(c)");
}

TEST(ApplicationInfoTest, ReleaseDatesReadFixedPositions) {
  struct Case {
    std::u16string value;
    TDateTime expected;
  };
  const Case cases[] = {
      {u"23/08/2022", Date(2022, 8, 23)},
      {u"23.08.2022 and more", Date(2022, 8, 23)},
      {u"1/8/2022", Date(22, 1, 1)},  // "1/", "/2" are no numbers; year from "22"
      {u"xx/yy/zzzz", Date(1, 1, 1)},
  };
  for (const Case& c : cases) {
    tQV_ApplicationInfo info;
    info.Load(Table({{10000, u"$VERSION=1"}, {10001, u"$RELEASEDATE=" + c.value}}));
    EXPECT_EQ(info.ReleaseDate(), c.expected);
    EXPECT_EQ(info.History()[0]->ReleaseDate(), c.expected);
  }
  tQV_ApplicationInfo bad;
  EXPECT_THROW(bad.Load(Table({{10000, u"$VERSION=1"}, {10001, u"$RELEASEDATE=01/13/2022"}})),
               EQVError);
}

TEST(ApplicationInfoTest, HistoryEntriesBeforeTheFirstVersionAreIgnored) {
  tQV_ApplicationInfo info;
  info.Load(Table({{10000, u"$RELEASEDATE=01/13/2022"},  // invalid, but never read
                   {10001, u"$AUTHOR=nobody"},
                   {10002, u"$PTEXT=lost"},
                   {10003, u"$VERSION=1"},
                   {10004, u"$AUTHOR=QV"},
                   {10005, u"$UNKNOWN=x"}}));
  EXPECT_EQ(info.ReleaseDate(), 0.0);
  ASSERT_EQ(info.History().size(), 1u);
  EXPECT_EQ(info.History()[0]->Author(), u"QV");
  EXPECT_TRUE(info.History()[0]->Text().empty());
}

TEST(ApplicationInfoTest, EntriesAreReadUpTo1023Characters) {
  tQV_ApplicationInfo info;
  info.Load(Table({{10000, u"$APPDESCRIPTION=" + std::u16string(2000, u'd')}}));
  EXPECT_EQ(info.Description().size(), 1023u - 16u);
}

}  // namespace
}  // namespace qvpa
