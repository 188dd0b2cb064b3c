#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/bundle.hpp"
#include "platform/run_loop.hpp"
#include "platform/ui/graphics.hpp"
#include "platform/ui/scroll_view.hpp"
#include "platform/ui/view_controller.hpp"
#include "support/scratch_directory.hpp"

namespace platform::ui {
namespace {

namespace fs = std::filesystem;

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bundle::setMain(Bundle(Value::emptyDictionary(), dir));
  }
  void TearDown() override {
    Bundle::resetMain();
  }
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }

  test_support::ScratchDirectory scratch;
  const fs::path dir = scratch.path();
};

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST_F(ResourcesTest, ReadsPngAndJpegSizes) {
  write("menu_white.png", bytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0, 0, 0, 44, 0, 0, 1, 2, 8, 6, 0, 0, 0}));
  // SOI, an APP0 segment of 4 bytes, then a baseline frame header: height 30, width 500.
  write("bg.jpg", bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 0xFF, 0xC0, 0, 17, 8, 0, 30, 0x01, 0xF4, 3}));
  write("broken.png", "not an image at all");
  write("cut.jpg", bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x7F}));
  EXPECT_EQ(Image::named("menu_white.png").size(), (Size{44, 258}));
  EXPECT_EQ(Image::named("bg.jpg").size(), (Size{500, 30}));
  EXPECT_EQ(Image::named("broken.png").size(), (Size{0, 0}));
  EXPECT_EQ(Image::named("cut.jpg").size(), (Size{0, 0}));
  EXPECT_EQ(Image::named("../escape.png").size(), (Size{0, 0}));
}

TEST(Presentation, TheShareSheetIsHeldUntilDismissed) {
  auto screen = std::make_shared<ViewController>();
  auto sheet = std::make_shared<ActivityViewController>(std::vector<std::string>{"Tittel", "http://x.test/"});
  bool presented = false;
  screen->presentViewController(sheet, true, [&] { presented = true; });
  EXPECT_FALSE(presented);  // completion runs later, on the main queue
  EXPECT_EQ(screen->presentedViewController(), sheet);
  EXPECT_EQ(sheet->presentingViewController(), screen.get());
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return presented; }, std::chrono::seconds(5)));
  sheet->dismissViewController(true);
  EXPECT_EQ(screen->presentedViewController(), nullptr);
  EXPECT_EQ(sheet->presentingViewController(), nullptr);
}

TEST(RefreshControl, PullStartsOneRefreshUntilEnded) {
  auto scroll = ScrollView::create(Rect(0, 0, 320, 480));
  auto refresh = RefreshControl::create();
  scroll->addSubview(refresh);
  ASSERT_EQ(scroll->refreshControl(), refresh);
  int pulls = 0;
  refresh->addAction(kControlEventValueChanged, [&](Control&) { ++pulls; });
  refresh->pull();
  refresh->pull();  // already refreshing
  EXPECT_EQ(pulls, 1);
  refresh->endRefreshing();
  refresh->pull();
  EXPECT_EQ(pulls, 2);
}

}  // namespace
}  // namespace platform::ui
