// The log files: the candump, ASC and TRC readers on real-looking logs with broken lines, the
// candump writer and recorder, and the replay schedule.
#include "busview/LogFiles.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ErrorText.h"
#include "support/FakeClock.h"
#include "util/FileIo.h"

namespace bp::busview {
namespace {

using Lines = std::vector<std::string>;

// Each frame as a candump line of interface "x" at epoch 0, with " R" or " T" for its direction.
Lines shown(const LogReadResult& r) {
  Lines out;
  for (const TraceFrame& f : r.frames) {
    const char* dir = f.direction == Direction::Received ? " R" : f.direction == Direction::Sent ? " T" : "";
    out.push_back(candumpLine(f, "x", 0) + dir);
  }
  return out;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct ReaderRow {
  const char* name;
  LogFormat format;
  const char* text;
  Lines frames;
  Lines problems;
};

const ReaderRow kReaderRows[] = {
    {"candump", LogFormat::Candump,
     "(1699999999.123456) vcan0 123#DEADBEEF\n"
     "(1699999999.123500) vcan0 0000123A#11.22\r\n"
     "(1699999999.124000) vcan0 705#R\n"
     "(1699999999.124100) vcan0 605#R3 T\n"
     "(1699999999.125000) vcan0 123#112233445566778899\n"
     "(1699999999.126000) vcan0 123##1DEAD\n"
     "(1699999999.127000) vcan0 20000004#0000080000000000\n"
     "garbage\n"
     "\n"
     "(1699999999.128000) vcan0 12#00\n"
     "(1699999999.129000) vcan0 800#00\n"
     "(1699999999.130000) vcan0 123#ABC\n"
     "(1699999999.131000) vcan0\n"
     "(1699999999.131000) vcan0 7FF#0102 R\n",
     {"(0000000000.000000) x 123#DEADBEEF", "(0000000000.000044) x 0000123A#1122", "(0000000000.000544) x 705#R",
      "(0000000000.000644) x 605#R3 T", "(0000000000.007544) x 7FF#0102 R"},
     {"line 5: data length 9 is more than 8 bytes", "line 6: CAN FD frames are not supported",
      "line 8: not a candump log line \"(seconds) interface ID#data\"",
      "line 10: identifier \"12\" is not 3 or 8 hex digits", "line 11: identifier 800 is more than 11 bits",
      "line 12: data \"ABC\" is not whole hex bytes", "line 13: no interface and frame after the time"}},
    {"ASC hex, absolute", LogFormat::Asc,
     "date Wed Apr 16 09:21:13.159 am 2014\n"
     "base hex  timestamps absolute\n"
     "internal events logged\n"
     "// version 8.2.1\n"
     "Begin Triggerblock Wed Apr 16 09:21:13.159 am 2014\n"
     "   0.000000 Start of measurement\n"
     "   0.123456 1  123             Rx   d 8 01 02 03 04 05 06 07 08\n"
     "   0.200000 1  18FF0001x       Tx   d 2 AA bb  Length = 1000 BitCount = 64 ID = 123\n"
     "   0.300000 1  705             Rx   r\n"
     "   0.310000 1  ErrorFrame\n"
     "   0.400000 1  123             Rx   d 9 01 02 03 04 05 06 07 08 09\n"
     "   0.500000 1  12G             Rx   d 1 00\n"
     "   0.600000 1  123             Rx   d 4 01 02\n"
     "   0.700000 CANFD 1 Rx 123 1 0 8 8 00 00 00 00 00 00 00 00\n"
     "   0.800000 1  124             Rx   d 1 ZZ\n"
     "   0.900000 2  7FF             Rx   r 4\n"
     "   0.950000 1  124             Rx   q 1 00\n"
     "some text\n"
     "End TriggerBlock\n",
     {"(0000000000.000000) x 123#0102030405060708 R", "(0000000000.076544) x 18FF0001#AABB T",
      "(0000000000.176544) x 705#R R", "(0000000000.776544) x 7FF#R4 R"},
     {"line 11: data length 9 is more than 8 bytes", "line 12: identifier \"12G\" is not a hex number",
      "line 13: 4 data bytes announced, 2 found", "line 14: CAN FD frames are not supported",
      "line 15: data byte \"ZZ\" is not a byte in hex",
      "line 17: frame type \"q\" is neither d (data) nor r (remote)", "line 18: not an ASC header or event line"}},
    {"ASC decimal, relative", LogFormat::Asc,
     "date Wed Apr 16 09:21:13.159 am 2014\n"
     "base dec  timestamps relative\n"
     "   0.010000 1  291             Rx   d 2 1 255\n"
     "   0.005000 1  4660x           Rx   d 1 16\n"
     "   0.001000 1  291             Rx   d 1 256\n",
     {"(0000000000.000000) x 123#01FF R", "(0000000000.005000) x 00001234#10 R"},
     {"line 5: data byte \"256\" is not a byte in decimal"}},
    {"TRC 1.1", LogFormat::Trc,
     ";$FILEVERSION=1.1\n"
     ";$STARTTIME=39414.8339742292\n"
     ";   Message Number\n"
     "     1)      1059.9  Rx         0300  8  00 01 02 03 04 05 06 07\n"
     "     2)      1060.0  Tx         0000  8  RTR\n"
     "     3)      1061.2  Rx     18FF0001  2  AA BB\n"
     "     4)      1062.0  Warng  FFFFFFFF  4  00 00 00 04  BUSHEAVY\n"
     "     5)      1063.0  Rx         0301  9  00 00 00 00 00 00 00 00 00\n"
     "     6)      abc     Rx         0302  1  00\n"
     "     7)      1064.0  Rx         0303\n",
     {"(0000000000.000000) x 300#0001020304050607 R", "(0000000000.000100) x 000#R8 T",
      "(0000000000.001300) x 18FF0001#AABB R"},
     {"line 8: data length 9 is more than 8 bytes", "line 9: time offset \"abc\" is not a number",
      "line 10: 4 fields, fewer than the columns \"NOdIlD\""}},
    {"TRC 2.0 and 2.1", LogFormat::Trc,
     ";$FILEVERSION=2.0\n"
     ";$COLUMNS=N,O,T,I,d,l,D\n"
     "      1      1059.900 DT     0300 Rx 8  00 00 00 00 00 00 00 00\n"
     "      2      1060.000 RR     0705 Rx 0\n"
     "      3      1061.000 ST          Rx    00 00 00 08\n"
     "      4      1062.000 FD     0301 Rx 12 00 00 00 00 00 00 00 00 00 00 00 00\n"
     "      5      1063.000 DT     0302 Rx 2  00\n"
     "      6      1064.500 DT 00000303 Tx 1  FF\n"
     "      7      1065.000 DT     080G Rx 1  FF\n"
     ";$FILEVERSION=2.1\n"
     ";$COLUMNS=N,O,T,B,I,d,R,L,D\n"
     "      8      1066.000 DT 1   0304 Rx -  1  5A\n",
     {"(0000000000.000000) x 300#0000000000000000 R", "(0000000000.000100) x 705#R R",
      "(0000000000.004600) x 00000303#FF T", "(0000000000.006100) x 304#5A R"},
     {"line 6: CAN FD frames are not supported", "line 7: 2 data bytes announced, 1 found",
      "line 9: identifier \"080G\" is not a hex number"}},
};

TEST(LogReaders, ReadEveryGoodLineAndNameEachBrokenOne) {
  for (const ReaderRow& row : kReaderRows) {
    SCOPED_TRACE(row.name);
    const LogReadResult r = readLog(bytesOf(row.text));  // the format found by the first line
    EXPECT_EQ(r.format, row.format);
    EXPECT_EQ(shown(r), row.frames);
    EXPECT_EQ(r.problems, row.problems);
  }
}

TEST(LogReaders, TextOfNoFormatIsOneError) {
  const std::string binary("\x89PNG\r\n\x1a\n\0\0", 10);
  const struct {
    LogReadResult (*reader)(std::string_view);
    std::string text;
    const char* error;
  } rows[] = {
      {readCandumpLog, "", "Not a candump log: the file is empty."},
      {readCandumpLog, " \r\n\n", "Not a candump log: the file is empty."},
      {readCandumpLog, binary, "Not a candump log: it is not text."},
      {readCandumpLog, "hello\nworld\n", "Not a candump log: no line has the form \"(seconds) interface ID#data\"."},
      {readAscLog, "hello\n", "Not a Vector ASC log: no line has the form \"<time> <channel> <ID> Rx d <length> <data>\"."},
      {readTrcLog, "1) x\n",
       "Not a PCAN TRC file: no line has the form \";$FILEVERSION=...\" or \"<number>) <time> <ID> <length> <data>\"."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(test::errorOf([&] { (void)row.reader(row.text); }), row.error);
  }
  EXPECT_EQ(test::errorOf([&] { (void)readLog(bytesOf("hello world\n(1.0) can0 123#00")); }),
            "Not a candump, ASC or TRC log: the first line is \"hello world\".");
  const std::string missing = test::errorOf([&] { (void)readLogFile("/nonexistent-busprobe/x.log"); });
  EXPECT_TRUE(missing.starts_with("Cannot open file \"" + fileio::nativePath("/nonexistent-busprobe/x.log") + "\". "))
      << missing;  // then the system's own words
}

TEST(LogReaders, ProblemsStopAtALimitWithACount) {
  std::string text = "(1.000000) can0 123#00\n";
  for (int i = 0; i < 150; ++i) text += "(1.000000) can0 123#0\n";
  const LogReadResult r = readCandumpLog(text);
  EXPECT_EQ(r.frames.size(), 1U);
  ASSERT_EQ(r.problems.size(), kMaxLogProblems + 1);
  EXPECT_EQ(r.problems.front(), "line 2: data \"0\" is not whole hex bytes");
  EXPECT_EQ(r.problems.back(), "50 more lines skipped");
}

TraceFrame traceFrame(std::uint64_t us, std::uint32_t id, std::uint8_t type, std::uint8_t len,
                      Direction d = Direction::Unknown) {
  TraceFrame t{us, {}, d};
  t.frame.id = id;
  t.frame.type = type;
  t.frame.len = len;
  for (std::uint8_t i = 0; i < len && (type & can::kMsgRemote) == 0; ++i) t.frame.data[i] = static_cast<std::uint8_t>(0xA0 + i);
  return t;
}

TEST(CandumpWriter, WritesAsCandumpAndReadsBack) {
  const std::vector<TraceFrame> frames = {
      traceFrame(0, 0x123, can::kMsgData, 4),           traceFrame(1, 0x7FF, can::kMsgData, 0),
      traceFrame(250, 0x705, can::kMsgRemote, 0),       traceFrame(999999, 0x605, can::kMsgRemote, 8),
      traceFrame(1000000, 0x1ABCDEF, can::kMsgExtended, 8),
      traceFrame(1000001, 0x1F, can::kMsgExtended | can::kMsgRemote, 2)};
  const Lines expected = {
      "(1699999999.500000) can0 123#A0A1A2A3", "(1699999999.500001) can0 7FF#",
      "(1699999999.500250) can0 705#R",        "(1700000000.499999) can0 605#R8",
      "(1700000000.500000) can0 01ABCDEF#A0A1A2A3A4A5A6A7", "(1700000000.500001) can0 0000001F#R2"};
  std::string log;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(candumpLine(frames[i], "can0", 1699999999500000), expected[i]);
    log += expected[i] + "\n";
  }
  const LogReadResult back = readCandumpLog(log);
  EXPECT_TRUE(back.problems.empty());
  ASSERT_EQ(back.frames.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(back.frames[i].timeUs, frames[i].timeUs);
    EXPECT_EQ(back.frames[i].frame, frames[i].frame) << expected[i];
  }
  // An error frame carries the error flag, and the readers skip it.
  EXPECT_EQ(candumpLine(traceFrame(0, 0x004, can::kMsgError, 8), "can0", 0),
            "(0000000000.000000) can0 20000004#A0A1A2A3A4A5A6A7");
}

class RecorderTest : public ::testing::Test {
 protected:
  std::string path = (std::filesystem::temp_directory_path() /
                      ("busprobe-log-" + std::to_string(fileio::processId()) + ".log")).string();
  void TearDown() override { fileio::removeFile(path); }
  std::string content() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(RecorderTest, WritesEverySecondAndOnStop) {
  std::ofstream(path) << "an older file\n";
  test::FakeClock clock(5000);
  LogRecorder rec(clock);
  rec.start(path, "vcan0", 10000000);
  rec.record(traceFrame(0, 0x123, can::kMsgData, 1, Direction::Received));
  clock.advance(999);
  rec.poll();
  EXPECT_EQ(content(), "") << "kept in memory for a second";
  rec.record(traceFrame(1500, 0x705, can::kMsgRemote, 0));
  clock.advance(1);
  rec.poll();
  EXPECT_EQ(content(), "(0000000010.000000) vcan0 123#A0\n(0000000010.001500) vcan0 705#R\n");
  rec.record(traceFrame(2000, 0x080, can::kMsgData, 0));
  rec.stop();
  EXPECT_FALSE(rec.recording());
  EXPECT_EQ(rec.framesRecorded(), 3U);
  EXPECT_EQ(readLogFile(path).frames.size(), 3U);
  rec.record(traceFrame(3000, 0x080, can::kMsgData, 0));  // stopped: nothing
  EXPECT_EQ(readLogFile(path).frames.size(), 3U);
}

TEST_F(RecorderTest, AnUnwritablePathIsAClearError) {
  LogRecorder rec;
  const std::string error = test::errorOf([&] { rec.start("/nonexistent-busprobe/x.log", "can0", 0); });
  EXPECT_TRUE(error.starts_with("Cannot create file \"" + fileio::nativePath("/nonexistent-busprobe/x.log") + "\". "))
      << error;  // then the system's own words
  EXPECT_FALSE(rec.recording());
}

TEST(Replay, WaitsAtTheLogsOwnTimingAndSendsLateStampsAtOnce) {
  std::vector<TraceFrame> frames;
  for (std::uint64_t t : {0, 1000, 1000, 500, 3000}) frames.push_back(traceFrame(t, 0x100, can::kMsgData, 0));
  EXPECT_EQ(replayDelaysUs(frames), (std::vector<std::uint64_t>{0, 1000, 0, 0, 2000}));

  ReplaySchedule s(frames);
  const struct {
    std::uint64_t elapsedUs;
    std::size_t due;
    std::optional<std::uint64_t> wait;  // after the frames due were taken
  } steps[] = {{0, 1, 1000}, {999, 0, 1}, {1500, 3, 1500}, {2999, 0, 1}, {5000, 1, std::nullopt}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.elapsedUs);
    EXPECT_EQ(s.due(step.elapsedUs).size(), step.due);
    EXPECT_EQ(s.waitUs(step.elapsedUs), step.wait);
  }
  EXPECT_TRUE(s.finished());
}

}  // namespace
}  // namespace bp::busview
