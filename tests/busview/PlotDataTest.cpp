// The plotted series (bounds, counts, CSV text and file) and the SDO poll schedule.
#include "busview/PlotData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "busview/PollSchedule.h"
#include "support/ErrorText.h"
#include "util/FileIo.h"

namespace bp::busview {
namespace {

std::vector<double> values(const PlotData& d, int series) {
  std::vector<double> out;
  for (const PlotSample& s : d.samples(series)) out.push_back(s.value);
  return out;
}

TEST(PlotData, KeepsTheLastSamplesOfEachSeriesAndCountsEveryOneAdded) {
  PlotData d(3);
  const int a = d.addSeries("a");
  const int b = d.addSeries("b");
  EXPECT_EQ(d.addSeries("a"), a);
  for (int i = 0; i < 5; ++i) d.add(a, i, 10 + i);
  d.add(b, 0, std::numeric_limits<double>::quiet_NaN());  // skipped
  d.add(b, 0, 1);
  EXPECT_EQ(values(d, a), (std::vector<double>{12, 13, 14}));
  EXPECT_EQ(d.added(a), 5u);
  EXPECT_EQ(d.added(b), 1u);

  d.clear();  // samples go, series and counts stay
  d.add(a, 9, 19);
  EXPECT_EQ(d.added(a), 6u);
  EXPECT_EQ(values(d, a), std::vector<double>{19});

  d.removeSeries(a);  // a number is never given again, and samples for it go nowhere
  d.add(a, 10, 20);
  EXPECT_EQ(d.series(), std::vector<int>{b});
  EXPECT_NE(d.addSeries("a"), a);
  EXPECT_THROW(d.name(a), std::out_of_range);
}

TEST(PlotData, CsvIsSortedByTimeWithRoundTripNumbersAndQuotedNames) {
  PlotData d;
  const int speed = d.addSeries("speed");
  const int odd = d.addSeries("a,b \"c\"");
  d.add(speed, 0.2, 1.5);
  d.add(odd, 0.1, -3);
  d.add(odd, 0.2, 0.1 + 0.2);  // same time as speed's sample: after it, series order
  d.add(speed, 1e-7, 1e21);
  EXPECT_EQ(d.csvText('.'),
            "time_s,series,value\n"
            "1e-07,speed,1e+21\n"
            "0.1,\"a,b \"\"c\"\"\",-3\n"
            "0.2,speed,1.5\n"
            "0.2,\"a,b \"\"c\"\"\",0.30000000000000004\n");
  // With a decimal comma the fields are separated by ';' and a ',' alone needs no quotes.
  PlotData comma;
  comma.add(comma.addSeries("x,y"), 2.5, -0.125);
  comma.add(comma.addSeries("line\nbreak"), 3, 4);
  EXPECT_EQ(comma.csvText(','), "time_s;series;value\n2,5;x,y;-0,125\n3;\"line\nbreak\";4\n");
}

TEST(PlotData, CsvFileHoldsTheTextAndAFailureNamesTheFile) {
  PlotData d;
  d.add(d.addSeries("v"), 1, 2);
  const std::string path = testing::TempDir() + "plot-data-test.csv";
  d.writeCsv(path, '.');
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), d.csvText('.'));
  fileio::removeFile(path);

  const std::string error = test::errorOf([&] { d.writeCsv("/nonexistent-busprobe/plot.csv", '.'); });
  EXPECT_TRUE(error.starts_with("Cannot create file \"" + fileio::nativePath("/nonexistent-busprobe/plot.csv") + "\". "))
      << error;
}

using Polled = std::vector<std::uint16_t>;

Polled polledAt(PollSchedule& s, std::uint64_t nowMs) {
  Polled out;
  for (const PollSchedule::Entry& e : s.due(nowMs)) out.push_back(e.index);
  return out;
}

TEST(PollSchedule, EachEntryComesEveryPeriodFromItsLastDueTimeWithoutPilingUp) {
  PollSchedule s;
  s.add(0x6064, 0, 100, 0);
  s.add(0x606C, 0, 250, 1);
  EXPECT_EQ(polledAt(s, 1000), (Polled{0x6064, 0x606C}));  // first call: all
  EXPECT_EQ(polledAt(s, 1099), Polled{});
  EXPECT_EQ(polledAt(s, 1130), Polled{0x6064});             // 30 ms late: next at 1200, not 1230
  EXPECT_EQ(polledAt(s, 1200), Polled{0x6064});
  EXPECT_EQ(polledAt(s, 1250), Polled{0x606C});
  EXPECT_EQ(polledAt(s, 1900), (Polled{0x6064, 0x606C}));  // far late: once, next a period on
  EXPECT_EQ(polledAt(s, 1999), Polled{});
  EXPECT_EQ(polledAt(s, 2000), Polled{0x6064});

  s.add(0x6064, 0, 0, 5);  // again: new period (at least 1 ms) and series, due at once
  s.remove(0x606C, 0);
  const auto due = s.due(2001);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].periodMs, 1u);
  EXPECT_EQ(due[0].series, 5);
  EXPECT_EQ(s.size(), 1u);
}

}  // namespace
}  // namespace bp::busview
