// The Bus view's decoder on a realistic mix: bench_decode [--frames N] (default 1,000,000).
// The mix, drawn from a fixed seed: PDOs of ten nodes (60 %), SDO traffic of a segmented upload and
// a block upload (25 %, in protocol order), SYNC with counter, heartbeats, EMCY, NMT, TIME, LSS and
// unknown identifiers. Prints, median of 5 runs, nanoseconds per frame for: decoding (what every
// frame costs on arrival), decoding plus the node table, and building the text (paid only for the
// rows shown); and what decoding costs of one core at 21,000 frames/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "busview/Decoder.h"
#include "busview/NodeTable.h"
#include "busview/TraceFrame.h"

namespace {

using namespace bp;
using busview::TraceFrame;
using Clock = std::chrono::steady_clock;

can::CanFrame dataFrame(std::uint32_t id, std::initializer_list<std::uint8_t> bytes) {
  can::CanFrame f;
  f.id = id;
  f.len = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), f.data.begin());
  return f;
}

// A segmented upload of 70 bytes and a block upload of 127 segments by node 5, frame by frame.
std::vector<can::CanFrame> sdoScript() {
  std::vector<can::CanFrame> s;
  s.push_back(dataFrame(0x605, {0x40, 0x00, 0x25, 0, 0, 0, 0, 0}));
  s.push_back(dataFrame(0x585, {0x41, 0x00, 0x25, 0, 70, 0, 0, 0}));
  for (int i = 0; i < 10; ++i) {
    const auto t = static_cast<std::uint8_t>((i % 2) << 4);
    s.push_back(dataFrame(0x605, {static_cast<std::uint8_t>(0x60 | t), 0, 0, 0, 0, 0, 0, 0}));
    s.push_back(dataFrame(0x585, {static_cast<std::uint8_t>(t | (i == 9 ? 1 : 0)), 'a', 'b', 'c',
                                  'd', 'e', 'f', 'g'}));
  }
  s.push_back(dataFrame(0x605, {0xA4, 0x30, 0x25, 0, 127, 0, 0, 0}));
  s.push_back(dataFrame(0x585, {0xC6, 0x30, 0x25, 0, 0xE9, 0x03, 0, 0}));
  s.push_back(dataFrame(0x605, {0xA3, 0, 0, 0, 0, 0, 0, 0}));
  for (int seq = 1; seq <= 127; ++seq)
    s.push_back(dataFrame(0x585, {static_cast<std::uint8_t>(seq == 127 ? 0x80 | seq : seq), 1, 2, 3,
                                  4, 5, 6, 7}));
  s.push_back(dataFrame(0x605, {0xA2, 127, 127, 0, 0, 0, 0, 0}));
  s.push_back(dataFrame(0x585, {0xC1, 0x34, 0x12, 0, 0, 0, 0, 0}));
  s.push_back(dataFrame(0x605, {0xA1, 0, 0, 0, 0, 0, 0, 0}));
  return s;
}

std::vector<TraceFrame> makeMix(std::size_t count) {
  const std::vector<can::CanFrame> sdo = sdoScript();
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> percent(0, 99), node(1, 10), pdo(0, 3), byte(0, 255);
  std::vector<TraceFrame> mix;
  mix.reserve(count);
  std::size_t sdoAt = 0;
  std::uint8_t sync = 1;
  for (std::size_t i = 0; i < count; ++i) {
    const int p = percent(rng);
    const auto n = static_cast<std::uint32_t>(node(rng));
    can::CanFrame f;
    if (p < 40) f = dataFrame(0x180 + 0x100 * pdo(rng) + n, {0x37, 0x06, 0x10, 0x27, 0, 0, 0, 0});
    else if (p < 60) f = dataFrame(0x200 + 0x100 * pdo(rng) + n, {0x0F, 0x00, 0xA0, 0x86, 1, 0});
    else if (p < 85) f = sdo[sdoAt++ % sdo.size()];
    else if (p < 90) f = dataFrame(0x080, {sync = static_cast<std::uint8_t>(sync % 240 + 1)});
    else if (p < 95) f = dataFrame(0x700 + n, {static_cast<std::uint8_t>(p % 2 ? 0x05 : 0x7F)});
    else if (p < 97) f = dataFrame(0x080 + n, {0x10, 0x23, 0x03, 0, 0, 0, 0, static_cast<std::uint8_t>(byte(rng))});
    else if (p < 98) f = dataFrame(0x000, {0x01, static_cast<std::uint8_t>(n)});
    else if (p < 99) f = dataFrame(0x100, {0x95, 0x2C, 0xB3, 0x02, 0x4E, 0x39});
    else f = dataFrame(p % 2 ? 0x7E5 : 0x6A0, {0x5E, 0, 0, 0, 0, 0, 0, 0});
    mix.push_back({i * 47, f, busview::Direction::Received});  // 21,000 frames/s: one each 47.6 us
  }
  return mix;
}

template <typename Body>
double nsPerFrame(std::size_t frames, Body body) {
  std::vector<double> runs;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    body();
    runs.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / frames);
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t frames = 1'000'000;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::strtoul(argv[i + 1], nullptr, 10);
  if (frames == 0) return 1;
  const std::vector<TraceFrame> mix = makeMix(frames);
  std::vector<busview::Decoded> decoded(mix.size());
  std::size_t sink = 0;

  const double decodeNs = nsPerFrame(frames, [&] {
    busview::Decoder decoder;
    for (std::size_t i = 0; i < mix.size(); ++i) decoded[i] = decoder.decode(mix[i].frame);
    sink += static_cast<std::size_t>(decoded.back().service);
  });
  const double tableNs = nsPerFrame(frames, [&] {
    busview::Decoder decoder;
    busview::NodeTable table;
    std::uint64_t nextTickUs = 0;
    for (const TraceFrame& tf : mix) {
      table.feed(tf, decoder.decode(tf.frame));
      if (tf.timeUs < nextTickUs) continue;
      table.update(tf.timeUs);  // the window's 200 ms tick
      nextTickUs = tf.timeUs + 200'000;
    }
    sink += table.rows().size();
  });
  const double textNs = nsPerFrame(frames, [&] {
    for (std::size_t i = 0; i < mix.size(); ++i) sink += busview::describe(decoded[i], mix[i].frame).size();
  });

  std::printf("bench_decode: %zu frames of a mixed bus (PDO 60 %%, SDO 25 %%, SYNC, heartbeat, EMCY, ...)\n",
              frames);
  std::printf("  decode:               %6.1f ns/frame\n", decodeNs);
  std::printf("  decode + node table:  %6.1f ns/frame\n", tableNs);
  std::printf("  text (rows shown):    %6.1f ns/frame\n", textNs);
  std::printf("  at 21,000 frames/s decoding takes %.3f %% of one core, with the node table %.3f %%\n",
              decodeNs * 21000 / 1e7, tableNs * 21000 / 1e7);
  std::printf("  (checksum %zu)\n", sink);
  return 0;
}
