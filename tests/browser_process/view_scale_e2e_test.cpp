// The view's scale factor through libTEVBrowser.so and the real engine:
// frames in physical pixels, the page's devicePixelRatio and CSS size, crisp
// lines, and input in view coordinates.
#include "engine_fixture.h"

namespace {

using namespace tev_e2e;

constexpr std::uint32_t kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

// A 1 CSS px black line at x 10, a target at 40-60, and the page's own
// report of its ratio and viewport whenever they change.
const char* const kPage =
    "data:text/html,<body style='margin:0;background:white'>"
    "<div style='position:absolute;left:10px;top:0;width:1px;height:100px;background:black'></div>"
    "<div style='position:absolute;left:40px;top:40px;width:20px;height:20px;background:rgb(0,0,255)'"
    " onmousedown=\"_tev_event(5,'hit '+event.clientX+','+event.clientY)\"></div>"
    "<script>let last='';setInterval(()=>{const s=devicePixelRatio+' '+innerWidth+'x'+innerHeight;"
    "if(s!=last){last=s;_tev_event(1,s)}},30)</script></body>";

class ViewScale : public Engine {
 protected:
  testing::AssertionResult Reports(int32_t h, const std::string& line) {
    if (PumpUntil(h, [&] { return std::find(g_scripts.begin(), g_scripts.end(), line) != g_scripts.end(); })) {
      return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "no \"" << line << "\" in " << testing::PrintToString(g_scripts);
  }
  void Click(int32_t h, int x, int y) {
    TEVBrowser_SendMouseClickEvent(h, x, y, 0, false, 1, 0);
    TEVBrowser_SendMouseClickEvent(h, x, y, 0, true, 1, 0);
  }
};

TEST_F(ViewScale, FramesArePhysicalPixelsAndThePageSeesTheRatio) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(kPage);
  TEVBrowser_SetSize(h, 320, 180, 2.0f);
  ASSERT_TRUE(Reports(h, "1 2 320x180"));
  ASSERT_TRUE(PumpUntil(h, [&] { return width_ == 640 && height_ == 360 && Pixel(21, 100) == kBlack; }));
  // The 1 CSS px line is two device pixels, drawn at the device resolution:
  // no grey on either side.
  EXPECT_EQ(Pixel(19, 100), kWhite);
  EXPECT_EQ(Pixel(20, 100), kBlack);
  EXPECT_EQ(Pixel(21, 100), kBlack);
  EXPECT_EQ(Pixel(22, 100), kWhite);
  EXPECT_EQ(Pixel(100, 100), 0xFF0000FF);  // the target, at CSS 50,50
  // Input stays in view coordinates: (30, 30) misses the target, (50, 50) hits it.
  auto hits = [] {
    return std::count_if(g_scripts.begin(), g_scripts.end(), [](const std::string& s) { return s.rfind("5 ", 0) == 0; });
  };
  Click(h, 30, 30);
  Click(h, 50, 50);
  ASSERT_TRUE(PumpUntil(h, [&] { return hits() > 0; }));
  PumpUntil(h, [] { return false; }, 1);
  EXPECT_EQ(std::count(g_scripts.begin(), g_scripts.end(), "5 hit 50,50"), 1);
  EXPECT_EQ(hits(), 1);

  // Back to scale 1 at the same size: a new frame at 320 x 180.
  TEVBrowser_SetSize(h, 320, 180, 1.0f);
  ASSERT_TRUE(Reports(h, "1 1 320x180"));
  ASSERT_TRUE(PumpUntil(h, [&] { return width_ == 320 && height_ == 180 && Pixel(10, 50) == kBlack; }));
  EXPECT_EQ(Pixel(9, 50), kWhite);
  EXPECT_EQ(Pixel(11, 50), kWhite);

  // A fractional scale: 400 x 200 at 1.5 is 600 x 300 physical pixels and a
  // 400 x 200 CSS viewport; the ratio the page sees is the next whole number.
  TEVBrowser_SetSize(h, 400, 200, 1.5f);
  ASSERT_TRUE(Reports(h, "1 2 400x200"));
  EXPECT_TRUE(PumpUntil(h, [&] { return width_ == 600 && height_ == 300 && Pixel(75, 75) == 0xFF0000FF; }));
  // The target at CSS 40-60 is at 60-90 physical pixels.
  EXPECT_EQ(Pixel(58, 75), kWhite);
  EXPECT_EQ(Pixel(92, 75), kWhite);
  // Widget coordinates are whole pixels, so a fractional scale may place a
  // click up to one CSS pixel off.
  g_scripts.clear();
  Click(h, 50, 50);
  ASSERT_TRUE(PumpUntil(h, [] { return !g_scripts.empty(); }));
  EXPECT_TRUE(g_scripts.back() == "5 hit 50,50" || g_scripts.back() == "5 hit 49,49") << g_scripts.back();
}

TEST_F(ViewScale, TwoViewsAtTwoScalesAtOnce) {
  ASSERT_TRUE(Start());
  const int32_t sharp = TEVBrowser_CreateBrowser(kPage);
  TEVBrowser_SetSize(sharp, 200, 100, 2.0f);
  ASSERT_TRUE(Reports(sharp, "1 2 200x100"));
  EXPECT_TRUE(PumpUntil(sharp, [&] { return width_ == 400 && height_ == 200; }));
  const int32_t plain = TEVBrowser_CreateBrowser(kPage);
  TEVBrowser_SetSize(plain, 200, 100, 1.0f);
  ASSERT_TRUE(Reports(plain, "1 1 200x100"));
  EXPECT_TRUE(PumpUntil(plain, [&] { return width_ == 200 && height_ == 100; }));
  // The first still paints at its own scale beside the second.
  TEVBrowser_ExecuteJavascript(sharp, "document.body.style.background = 'rgb(1,2,3)'");
  EXPECT_TRUE(FrameShows(sharp, 400, 200, 0xFF010203));
}

}  // namespace
