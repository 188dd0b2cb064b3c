#include "hit_util.hpp"

#include <gtest/gtest.h>

#include <set>

#include "exception_parser.hpp"
#include "usage_tracker.hpp"

namespace analytics {
namespace {

TEST(HitUtil, HashMatchesTheWorkedValues) {
  EXPECT_EQ(HitUtil::gaHash(""), 1u);
  EXPECT_EQ(HitUtil::gaHash("a"), 97u + 97u * 16384u);
  // Two letters: the later one is folded in first.
  std::uint32_t h = 98 + (98u << 14);
  h = ((h << 6) & 0x0FFFFFC0u) + 97 + (97u << 14);
  if (std::uint32_t g = h & 0x0FE00000u) h ^= g >> 21;
  EXPECT_EQ(HitUtil::gaHash("ab"), h);
  // A combining mark belongs to the letter before it.
  EXPECT_EQ(HitUtil::gaHash("e\xCC\x81"), HitUtil::gaHash("e"));
  EXPECT_LT(HitUtil::gaHash("7b3d6a3e-0f7c-4c2f-9f39-6d9a0c6f8a11"), 1u << 28);
}

TEST(HitUtil, ClientIdsAreLowerCaseVersion4Uuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    auto id = HitUtil::generateClientId();
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(id[14], '4');
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST(HitUtil, DeviceTexts) {
  EXPECT_EQ(HitUtil::systemLanguageFromLanguages({}), "en");
  EXPECT_EQ(HitUtil::systemLanguageFromLanguages({"nb-NO", "en"}), "nb-no");
  EXPECT_EQ(HitUtil::systemCountryFromLocale(platform::Locale{"nb", "NO"}), "no");
  EXPECT_EQ(HitUtil::userAgentStringWithProduct("Analytics", "2.01b", "x86_64", "Linux", "6.1", "nb", "no"),
            "Analytics/2.01b (x86_64; U; CPU Linux 6.1 like Mac OS X; nb-no)");
  EXPECT_EQ(HitUtil::millisecondsElapsed(platform::Date(1.0), platform::Date(2.5)), 1500);
  EXPECT_EQ(HitUtil::millisecondsElapsed(platform::Date(2.0), platform::Date(1.0)), -1000);
}

TEST(ExceptionParser, FrameSymbols) {
  EXPECT_EQ(ExceptionParser::symbolFromStackFrame("3   App  0x0000000100001234 -[Feed load:] + 52"), "-[Feed load:]");
  EXPECT_EQ(ExceptionParser::symbolFromStackFrame("4 app 0x1 ns::Feed::load + 8"), "ns::Feed::load");
  EXPECT_EQ(ExceptionParser::symbolFromStackFrame("0 Core 0x1 +[NSException raise:] + 1"), std::nullopt);
  EXPECT_EQ(ExceptionParser::symbolFromStackFrame("too short line"), std::nullopt);
}

TEST(ExceptionParser, DescriptionStartsWithTheNameThenTraceCutToTheMaximum) {
  ExceptionReport report{"NSRangeException", "index 3 beyond bounds", {}};
  EXPECT_EQ(ExceptionParser::exceptionDescription(report, 150), "NSRangeException");
  for (int i = 0; i < 20; ++i) {
    report.callStackSymbols.push_back(std::to_string(i) + " app 0x1 frame_number_" + std::to_string(i) + " + 4");
  }
  auto full = ExceptionParser::exceptionDescription(report, 0);
  EXPECT_EQ(full.rfind("NSRangeException\nTrace:\nframe_number_2\nframe_number_3\n", 0), 0u) << full;
  auto cut = ExceptionParser::exceptionDescription(report, 150);
  EXPECT_EQ(cut.size(), 150u);
  EXPECT_EQ(full.substr(0, 150), cut);
  EXPECT_EQ(Util::descriptionFromException(nullptr), std::nullopt);
  platform::Error error = platform::makeError("Net", 7, "down");
  EXPECT_EQ(Util::descriptionFromError(&error), "Net 7: down");
}

TEST(ExceptionParser, ReportOfARealExceptionNamesItsTypeAndHasACallStack) {
  std::exception_ptr caught;
  try {
    throw std::out_of_range("index");
  } catch (...) {
    caught = std::current_exception();
  }
  auto report = ExceptionReport::fromException(caught);
  EXPECT_EQ(report.name, "std::out_of_range");
  EXPECT_EQ(report.reason, "index");
  ASSERT_GE(report.callStackSymbols.size(), 3u);
  EXPECT_TRUE(ExceptionParser::symbolFromStackFrame(report.callStackSymbols[0]).has_value()) << report.callStackSymbols[0];
}

TEST(UsageTracker, SequenceIsTakenOnceAndSetsAreSortedAndCleared) {
  UsageTracker::getUsageSequence();
  UsageTracker::getUsageClearingTarget(nullptr);  // forgets earlier tests' class codes
  EXPECT_EQ(UsageTracker::getUsageSequence(), "");
  UsageTracker tracker;
  tracker.trackInstanceAction("send:");
  UsageTracker::trackAction("createAppView");
  tracker.trackInstanceAction("build");  // no code
  tracker.trackInstanceAction("set:value:");
  EXPECT_EQ(UsageTracker::getUsageSequence(), ".L-K");
  EXPECT_EQ(tracker.getUsage(), "-KL");
  EXPECT_EQ(tracker.getUsage(), "");
}

}  // namespace
}  // namespace analytics
