// The Bus view's history: wrap-around at capacity, times from the first frame, pause and clear.
#include "busview/TraceBuffer.h"
#include "busview/TraceRows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bp::busview {
namespace {

// Appends frames from..to-1: frame n has identifier n and is stamped 1,000,000 + 10 n µs.
void appendFrames(TraceBuffer& b, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t n = from; n < to; ++n) b.append({1'000'000 + 10ull * n, {n}, Direction::Received});
}

// What the list shows: "id@time" oldest first.
std::vector<std::string> shown(const TraceBuffer& b) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < b.size(); ++i)
    out.push_back(std::to_string(b.at(i).frame.id) + "@" + std::to_string(b.at(i).timeUs));
  return out;
}

TEST(TraceBuffer, KeepsTheLastFramesWithTimesFromTheFirstAndCountsThoseDropped) {
  TraceBuffer b(4);
  appendFrames(b, 5, 6);
  appendFrames(b, 2, 3);  // stamped before the first frame: at 0
  appendFrames(b, 7, 8);
  EXPECT_EQ(shown(b), (std::vector<std::string>{"5@0", "2@0", "7@20"}));
  appendFrames(b, 8, 15);  // wraps twice
  EXPECT_EQ(shown(b), (std::vector<std::string>{"11@60", "12@70", "13@80", "14@90"}));
  EXPECT_EQ(b.totalSeen(), 10u);
  EXPECT_EQ(b.dropped(), 6u);
  b.clear();  // counts, drops and the time origin start afresh
  appendFrames(b, 1, 2);
  EXPECT_EQ(shown(b), std::vector<std::string>{"1@0"});
  EXPECT_EQ(b.totalSeen() + b.dropped(), 1u);
}

TEST(TraceBuffer, PauseFreezesTheListButKeepsRecording) {
  TraceBuffer b(4);
  appendFrames(b, 0, 2);
  b.setPaused(true);
  appendFrames(b, 2, 5);  // kept behind the frozen list; when full the oldest shown frame goes
  EXPECT_EQ(shown(b), std::vector<std::string>{"1@10"});
  EXPECT_EQ(b.totalSeen(), 5u);
  b.setPaused(true);  // a second pause does not move the frozen end
  b.setPaused(false);
  EXPECT_EQ(shown(b), (std::vector<std::string>{"1@10", "2@20", "3@30", "4@40"}));
  b.setPaused(true);
  appendFrames(b, 5, 10);  // longer than the buffer holds: the list empties
  EXPECT_EQ(b.size(), 0u);
  b.setPaused(false);
  EXPECT_EQ(b.size(), 4u);
}

// The identifiers of the rows, in order.
std::vector<std::uint32_t> rowIds(const TraceRows& rows, const TraceBuffer& b) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < rows.size(); ++i) out.push_back(b.byNumber(rows.number(i)).frame.id);
  return out;
}

// The rows a filter lets through follow the history: new frames come at the end, frames pushed out
// go from the top (reported as such, so the list keeps its place), and a pause holds the rows.
TEST(TraceRows, FilteredRowsFollowAppendsDropsAndPause) {
  TraceBuffer b(6);
  TraceRows rows;
  TraceFilter odd;
  odd.node = 1;  // the frames appended below with meaning node 1: the odd identifiers
  auto add = [&](std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t n = from; n < to; ++n) {
      Decoded d;
      d.node = static_cast<std::uint8_t>(n % 2);
      b.append({n, {n}, Direction::Received}, d);
    }
  };
  add(0, 4);
  rows.setFilter(odd, b);
  EXPECT_EQ(rowIds(rows, b), (std::vector<std::uint32_t>{1, 3}));
  add(4, 8);  // 0 and 1 pushed out; 5 and 7 come
  RowChange c = rows.update(b);
  EXPECT_EQ(c.removed, 1u);
  EXPECT_EQ(c.added, 2u);
  EXPECT_EQ(rowIds(rows, b), (std::vector<std::uint32_t>{3, 5, 7}));
  b.setPaused(true);
  add(8, 10);  // 2 and 3 pushed out, 9 held back
  c = rows.update(b);
  EXPECT_EQ(c.removed, 1u);
  EXPECT_EQ(c.added, 0u);
  EXPECT_EQ(rowIds(rows, b), (std::vector<std::uint32_t>{5, 7}));
  b.setPaused(false);
  c = rows.update(b);
  EXPECT_EQ(c.added, 1u);
  EXPECT_EQ(rowIds(rows, b), (std::vector<std::uint32_t>{5, 7, 9}));
  rows.setFilter({}, b);  // no filter: every held frame
  EXPECT_EQ(rowIds(rows, b), (std::vector<std::uint32_t>{4, 5, 6, 7, 8, 9}));
  add(10, 11);
  c = rows.update(b);
  EXPECT_EQ(c.removed, 1u);
  EXPECT_EQ(c.added, 1u);
}

}  // namespace
}  // namespace bp::busview
