#pragma once
// The test stand-in for the adapter's driver library: what its five ordinal operations answer,
// and its two test-only exports. Shared by the stand-in (PcanStub.cpp) and the tests.
//
// The stand-in is a loopback bus inside the library: a frame written while open becomes readable
// (as an adapter in self-reception mode would deliver it), and frames injected by a test arrive as
// received ones. Both share one bounded receive queue; a frame that finds it full is refused.
//   open(code, frameType): 0 for a code of the bit-rate table and frame type 0, else
//                          kStubIllegalParam; re-opening an open bus is allowed (queue kept).
//   close():               always 0; the bus is closed and the queue emptied.
//   read(record):          0 with the oldest queued record copied verbatim (16 bytes);
//                          kStubQueueEmpty, or kStubNotOpen when closed.
//   versionText(buffer):   0 with kStubVersionText, open or not.
//   write(record):         0 when queued; kStubNotOpen when closed, kStubIllegalParam for a
//                          length byte above 8, kStubQueueFull when the queue is full.
#include <cstdint>

namespace bp::stub {

inline constexpr std::uint32_t kStubQueueEmpty = 0x0020;
inline constexpr std::uint32_t kStubQueueFull = 0x0080;
inline constexpr std::uint32_t kStubIllegalParam = 0x4000;
inline constexpr std::uint32_t kStubNotOpen = 0x8000;
inline constexpr unsigned kStubQueueSize = 32;
inline constexpr const char* kStubVersionText = "Busprobe loopback stand-in adapter library 1.0";
inline constexpr std::uint32_t kStubNeverOpened = 0xFFFFFFFFu;

}  // namespace bp::stub

// Test-only exports, by name.
//   StubInjectFrame(record): queues a 16-byte record as a received frame; results as write's.
//   StubLastOpenCode():      the bit-rate code of the last open call (accepted or not), or
//                            kStubNeverOpened.
//   StubLastWritten(out):    copies the 16 bytes of the last accepted write; 0, or
//                            kStubQueueEmpty when nothing was written yet.
//   StubOpenCalls():         how many times open was called since the library was loaded.
extern "C" {
using StubInjectFrameFn = std::uint32_t(__stdcall*)(const std::uint8_t* record);
using StubLastOpenCodeFn = std::uint32_t(__stdcall*)();
using StubLastWrittenFn = std::uint32_t(__stdcall*)(std::uint8_t* out);
using StubOpenCallsFn = std::uint32_t(__stdcall*)();
}
