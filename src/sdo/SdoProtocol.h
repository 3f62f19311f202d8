#pragma once
#include <cstddef>
#include <cstdint>

// The SDO command byte (data byte 0 of every SDO frame) and the frame layout of CiA 301, for both
// sides of a transfer: the client engine and the simulated node. Everything here is constexpr,
// noexcept and safe on any thread.
namespace bp::sdo::proto {

// ---- command specifier: bits 7..5 of the command byte ----
inline constexpr std::uint8_t kCsMask = 0xE0;

// Client to server (ccs).
inline constexpr std::uint8_t kCcsDownloadSegment = 0x00;   // ccs 0
inline constexpr std::uint8_t kCcsDownloadInitiate = 0x20;  // ccs 1
inline constexpr std::uint8_t kCcsUploadInitiate = 0x40;    // ccs 2
inline constexpr std::uint8_t kCcsUploadSegment = 0x60;     // ccs 3
inline constexpr std::uint8_t kCcsBlockUpload = 0xA0;       // ccs 5
inline constexpr std::uint8_t kCcsBlockDownload = 0xC0;     // ccs 6

// Server to client (scs).
inline constexpr std::uint8_t kScsUploadSegment = 0x00;     // scs 0
inline constexpr std::uint8_t kScsDownloadSegment = 0x20;   // scs 1
inline constexpr std::uint8_t kScsUploadInitiate = 0x40;    // scs 2
inline constexpr std::uint8_t kScsDownloadInitiate = 0x60;  // scs 3
inline constexpr std::uint8_t kScsBlockDownload = 0xA0;     // scs 5
inline constexpr std::uint8_t kScsBlockUpload = 0xC0;       // scs 6

// Either direction.
inline constexpr std::uint8_t kCsAbort = 0x80;              // cs 4

// ---- the other fields of the command byte ----
inline constexpr std::uint8_t kToggleBit = 0x10;      // t: segments; alternates per segment, 0 first
inline constexpr std::uint8_t kExpeditedBit = 0x02;   // e: initiate; data in bytes 4..7
inline constexpr std::uint8_t kSizeBit = 0x01;        // s: initiate; size (or n) is indicated
inline constexpr std::uint8_t kLastSegmentBit = 0x01; // c: segments; no more segments follow
inline constexpr int kInitiateNShift = 2;             // n: initiate, bits 3..2, unused of bytes 4..7
inline constexpr std::uint8_t kInitiateNMask = 0x03;
inline constexpr int kSegmentNShift = 1;              // n: segments, bits 3..1, unused of bytes 1..7
inline constexpr std::uint8_t kSegmentNMask = 0x07;

// ---- frame layout: 8 data bytes ----
inline constexpr std::size_t kFrameLength = 8;
inline constexpr std::size_t kCommandByte = 0;
inline constexpr std::size_t kIndexLowByte = 1;      // multiplexer: index, little-endian
inline constexpr std::size_t kIndexHighByte = 2;
inline constexpr std::size_t kSubIndexByte = 3;
inline constexpr std::size_t kInitiateDataByte = 4;  // bytes 4..7: expedited data, size or abort code
inline constexpr std::size_t kInitiateDataSize = 4;
inline constexpr std::size_t kSegmentDataByte = 1;   // bytes 1..7: segment data
inline constexpr std::size_t kSegmentDataSize = 7;

// ---- reading a command byte ----
constexpr std::uint8_t commandSpecifier(std::uint8_t c) noexcept {
  return static_cast<std::uint8_t>(c & kCsMask);
}
constexpr bool isExpedited(std::uint8_t c) noexcept { return (c & kExpeditedBit) != 0; }
constexpr bool isSizeIndicated(std::uint8_t c) noexcept { return (c & kSizeBit) != 0; }
constexpr bool isLastSegment(std::uint8_t c) noexcept { return (c & kLastSegmentBit) != 0; }
constexpr std::uint8_t toggleOf(std::uint8_t c) noexcept {
  return static_cast<std::uint8_t>(c & kToggleBit);
}
// n of an initiate frame: bytes of 4..7 that carry no data.
constexpr int initiateUnusedBytes(std::uint8_t c) noexcept {
  return (c >> kInitiateNShift) & kInitiateNMask;
}
// n of a segment frame: bytes of 1..7 that carry no data.
constexpr int segmentUnusedBytes(std::uint8_t c) noexcept {
  return (c >> kSegmentNShift) & kSegmentNMask;
}
// Data bytes of an expedited initiate frame: 4 - n when the size is indicated, else all 4.
constexpr int expeditedDataCount(std::uint8_t c) noexcept {
  return isSizeIndicated(c) ? 4 - initiateUnusedBytes(c) : 4;
}
// Data bytes of a segment frame: 7 - n.
constexpr int segmentDataCount(std::uint8_t c) noexcept { return 7 - segmentUnusedBytes(c); }

// ---- building a command byte ----
// An initiate command: cs, n (0..3) unused data bytes, e and s.
constexpr std::uint8_t initiateCommand(std::uint8_t cs, int unusedBytes, bool expedited,
                                       bool sizeIndicated) noexcept {
  return static_cast<std::uint8_t>(cs | ((unusedBytes & kInitiateNMask) << kInitiateNShift) |
                                   (expedited ? kExpeditedBit : 0) |
                                   (sizeIndicated ? kSizeBit : 0));
}
// A segment command: cs, toggle (0 or kToggleBit), n (0..7) unused data bytes, c.
constexpr std::uint8_t segmentCommand(std::uint8_t cs, std::uint8_t toggle, int unusedBytes,
                                      bool last) noexcept {
  return static_cast<std::uint8_t>(cs | (toggle & kToggleBit) |
                                   ((unusedBytes & kSegmentNMask) << kSegmentNShift) |
                                   (last ? kLastSegmentBit : 0));
}
// The client's expedited initiate download for `bytes` data bytes, computed in 8 bits as
// ((4 - bytes) << 2) | 0x23: 0x2F for 1 byte, 0x2B for 2, 0x23 for 4. For 0 bytes the count
// overflows the n field into bit 4 and gives 0x33 (e and s set, no data).
constexpr std::uint8_t expeditedDownloadCommand(std::size_t bytes) noexcept {
  return static_cast<std::uint8_t>(((4 - bytes) << kInitiateNShift) | kCcsDownloadInitiate |
                                   kExpeditedBit | kSizeBit);
}
// The client's upload segment request carrying `toggle`: 0x60 or 0x70.
constexpr std::uint8_t uploadSegmentRequest(std::uint8_t toggle) noexcept {
  return static_cast<std::uint8_t>(kCcsUploadSegment | (toggle & kToggleBit));
}

static_assert(expeditedDownloadCommand(1) == 0x2F && expeditedDownloadCommand(2) == 0x2B &&
              expeditedDownloadCommand(4) == 0x23 && expeditedDownloadCommand(0) == 0x33);
static_assert(initiateCommand(kScsUploadInitiate, 3, true, true) == 0x4F);
static_assert(segmentCommand(kScsUploadSegment, kToggleBit, 4, true) == 0x19);
static_assert(expeditedDataCount(0x4F) == 1 && expeditedDataCount(0x42) == 4);
static_assert(segmentDataCount(0x19) == 3 && segmentDataCount(0x00) == 7);

// ---- abort codes the simulated node and the tests use (the full table is AbortMessages) ----
inline constexpr std::uint32_t kAbortToggleNotAlternated = 0x05030000;
inline constexpr std::uint32_t kAbortTimedOut = 0x05040000;
inline constexpr std::uint32_t kAbortCommandUnknown = 0x05040001;
inline constexpr std::uint32_t kAbortUnsupportedAccess = 0x06010000;
inline constexpr std::uint32_t kAbortWriteOnly = 0x06010001;
inline constexpr std::uint32_t kAbortReadOnly = 0x06010002;
inline constexpr std::uint32_t kAbortNoObject = 0x06020000;
inline constexpr std::uint32_t kAbortLengthMismatch = 0x06070010;
inline constexpr std::uint32_t kAbortLengthTooHigh = 0x06070012;
inline constexpr std::uint32_t kAbortLengthTooLow = 0x06070013;
inline constexpr std::uint32_t kAbortNoSubIndex = 0x06090011;
inline constexpr std::uint32_t kAbortGeneralError = 0x08000000;

}  // namespace bp::sdo::proto
