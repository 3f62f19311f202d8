// Reading the guarding and SYNC periods from their edits.
#include "nmt/GuardSync.h"

#include <gtest/gtest.h>

#include "support/ErrorText.h"
#include "util/Error.h"

namespace bp::nmt {
namespace {

struct PeriodRow {
  const char* text;
  char sep;
  std::int32_t ms;
};
constexpr PeriodRow kPeriods[] = {
    {"200", '.', 200},
    {"50", '.', 50},
    {"12.9", '.', 12},          // cut toward zero
    {"0.5", '.', 0},
    {"0.7", '.', 0},
    {"0", '.', 0},
    {"-5", '.', 0},             // negative: no period, nothing is sent
    {"-0.5", '.', 0},
    {" 20 ", '.', 20},
    {"1E3", '.', 1000},
    {"12,5", ',', 12},          // the locale's separator
    {"2147483647", '.', 2147483647},
    {"1E12", '.', 2147483647},  // held at the largest period
};

TEST(PeriodFromText, CutTowardZeroNegativeIsZeroLargeIsClamped) {
  for (const auto& c : kPeriods) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(periodFromText(c.text, c.sep), c.ms);
  }
}

TEST(PeriodFromText, NonNumbersRaiseTheConversionError) {
  struct Bad {
    const char* text;
    char sep;
  };
  for (const Bad& b : {Bad{"abc", '.'}, Bad{"12,5", '.'}, Bad{"12.5", ','}, Bad{"", '.'}}) {
    SCOPED_TRACE(b.text);
    EXPECT_EQ(test::errorOf([&] { (void)periodFromText(b.text, b.sep); }),
              std::string("'") + b.text + "' is not a valid floating point value");
  }
}

}  // namespace
}  // namespace bp::nmt
