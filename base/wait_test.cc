#include "base/wait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/application.h"
#include "base/text.h"
#include "base/windowing_headless.h"

namespace qvpa {
namespace {

TEST(WaitTest, GeometryFromTheLabelSize) {
  struct Case {
    PixelSize label;
    int32_t width, left, top;
  };
  const Case cases[] = {
      {{100, 16}, 130, 15, 17},
      {{77, 16}, 100, 11, 17},   // 100.1: the fraction is dropped
      {{155, 33}, 201, 23, 8},   // 201.5
      {{10, 13}, 13, 1, 18},
      {{0, 0}, 0, 0, 25},
      {{123, 53}, 159, 18, -1},  // taller than the window: -1.5 rounds toward zero
      {{1, 51}, 1, 0, 0},        // -0.5 as well
  };
  for (const Case& c : cases) {
    HeadlessWindowing layer;
    layer.SetLabelMeasure([&c](const std::u16string&) { return c.label; });
    tQV_Wait wait(layer.CreateWaitSurface(), {});
    wait.SetText(u"anything");
    const WaitLayout& shown = layer.WaitReport().layout;
    const std::string where = std::to_string(c.label.width) + "x" + std::to_string(c.label.height);
    EXPECT_EQ(shown.client.width, c.width) << where;
    EXPECT_EQ(shown.client.height, 50) << where;
    EXPECT_EQ(shown.label_left, c.left) << where;
    EXPECT_EQ(shown.label_top, c.top) << where;
    EXPECT_EQ(shown.label.width, c.label.width) << where;
    EXPECT_EQ(shown.label.height, c.label.height) << where;
    EXPECT_FALSE(layer.WaitReport().shown);  // laid out, never drawn
  }
}

TEST(WaitTest, CaptionFollowsTheApplicationLanguage) {
  struct Case {
    std::u16string language, text, caption;
  };
  const Case cases[] = {
      {u"", u"", u"Attendere prego ..."},
      {u"it", u"", u"Attendere prego ..."},
      {u"en", u"", u"Wait please ..."},
      {u"EN", u"Printing", u"Wait please ...\r\nPrinting"},
      {u"En", u"", u"Wait please ..."},
      {u"english", u"", u"Attendere prego ..."},
      {u"de", u"Stampa", u"Attendere prego ...\r\nStampa"},
  };
  std::string root = (std::filesystem::temp_directory_path() / "qvpa-wait-XXXXXX").string();
  ASSERT_NE(::mkdtemp(root.data()), nullptr);
  ::setenv("QVPA_LOG_DIR", root.c_str(), 1);
  for (const Case& c : cases) {
    auto layer = std::make_unique<HeadlessWindowing>();
    const HeadlessWindowing& headless = *layer;
    tQV_Application app(std::vector<std::u16string>{u"host"}, std::move(layer));
    EXPECT_EQ(headless.WaitReport().layout.caption, u"Attendere prego ...");  // at creation
    app.SetLanguage(c.language);
    app.Wait().Start(c.text);
    EXPECT_EQ(headless.WaitReport().layout.caption, c.caption) << ToUtf8(c.language);
    EXPECT_EQ(app.Wait().Layout().caption, c.caption);
  }
  ::unsetenv("QVPA_LOG_DIR");
  std::filesystem::remove_all(root);
}

TEST(WaitTest, StartAndStop) {
  HeadlessWindowing layer;  // 8 pixels per character, 16 per line
  tQV_Wait wait(layer.CreateWaitSurface(), [] { return std::u16string(u"en"); });
  EXPECT_FALSE(wait.Started());
  EXPECT_FALSE(layer.WaitReport().shown);

  wait.Start(u"");
  EXPECT_TRUE(wait.Started());
  EXPECT_TRUE(layer.WaitReport().shown);
  EXPECT_EQ(layer.WaitReport().layout.label.width, 15 * 8);  // "Wait please ..."
  EXPECT_EQ(layer.WaitReport().layout.client.width, 156);

  // Shown again: only the caption changes; the window is as wide as the wider line needs.
  wait.Start(u"Printing the receipt");
  EXPECT_EQ(layer.WaitReport().layout.label.width, 20 * 8);
  EXPECT_EQ(layer.WaitReport().layout.label.height, 32);
  EXPECT_EQ(layer.WaitReport().layout.client.width, 208);
  EXPECT_EQ(layer.WaitReport().layout.label_top, 9);

  wait.Stop();
  EXPECT_FALSE(wait.Started());
  EXPECT_FALSE(layer.WaitReport().shown);
  EXPECT_EQ(layer.WaitReport().shows, 2);
}

}  // namespace
}  // namespace qvpa
