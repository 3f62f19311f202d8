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

// ---- block transfer (CiA 301): the low bits of the command byte and the segment byte ----
// Client and server each say whether they take a CRC over the data (cc, sc).
inline constexpr std::uint8_t kBlockCrcBit = 0x04;
// Subcommand 0 of either side and direction: the initiate frames.
inline constexpr std::uint8_t kBlockInitiate = 0x00;
// Block download: client subcommand (cs, bit 0) and server subcommand (ss, bits 1..0).
inline constexpr std::uint8_t kBlockSizeBit = 0x02;         // s: initiate; size in bytes 4..7
inline constexpr std::uint8_t kBlockDownloadEnd = 0x01;     // cs 1 (client), ss 1 (server)
inline constexpr std::uint8_t kBlockDownloadAck = 0x02;     // ss 2: sub-block response
// Block upload: client subcommand (cs, bits 1..0) and server subcommand (ss, bit 0).
inline constexpr std::uint8_t kBlockUploadEnd = 0x01;       // cs 1 (client), ss 1 (server)
inline constexpr std::uint8_t kBlockUploadAck = 0x02;       // cs 2: block acknowledge
inline constexpr std::uint8_t kBlockUploadStart = 0x03;     // cs 3: start sending
inline constexpr std::uint8_t kBlockSubcommandMask = 0x03;
// End frames: n, bits 4..2, the bytes of the last segment that carry no data.
inline constexpr int kBlockEndNShift = 2;
inline constexpr std::uint8_t kBlockEndNMask = 0x07;
// Segment byte of a sub-block: bit 7 set on the last segment of the transfer, bits 6..0 the
// sequence number, 1 to kMaxBlockSize.
inline constexpr std::uint8_t kBlockLastSegmentBit = 0x80;
inline constexpr std::uint8_t kBlockSeqnoMask = 0x7F;
inline constexpr std::uint8_t kMaxBlockSize = 127;
inline constexpr std::size_t kBlockSizeByte = 4;     // initiate answer (download), initiate (upload)
inline constexpr std::size_t kBlockPstByte = 5;      // initiate upload: protocol switch threshold
inline constexpr std::size_t kBlockAckSeqByte = 1;   // sub-block response, block acknowledge
inline constexpr std::size_t kBlockNextSizeByte = 2; // the same frames: size of the next block
inline constexpr std::size_t kBlockCrcByte = 1;      // end frames: CRC, little-endian, bytes 1..2

constexpr std::uint8_t blockEndUnusedBytes(std::uint8_t c) noexcept {
  return static_cast<std::uint8_t>((c >> kBlockEndNShift) & kBlockEndNMask);
}
// An end frame's command byte: cs (kCcsBlockDownload or kScsBlockUpload), n unused bytes, end.
constexpr std::uint8_t blockEndCommand(std::uint8_t cs, int unusedBytes) noexcept {
  return static_cast<std::uint8_t>(cs | ((unusedBytes & kBlockEndNMask) << kBlockEndNShift) | 0x01);
}

// The CRC of block transfers: CRC-16-CCITT, polynomial 0x1021, initial value 0, no reflection,
// over the data bytes only. Feed it piece by piece: crc = blockCrc(piece, crc).
constexpr std::uint16_t blockCrc(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0) noexcept {
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// ---- abort codes the client, the simulated node and the tests use (the full table is AbortMessages) ----
inline constexpr std::uint32_t kAbortToggleNotAlternated = 0x05030000;
inline constexpr std::uint32_t kAbortTimedOut = 0x05040000;
inline constexpr std::uint32_t kAbortCommandUnknown = 0x05040001;
inline constexpr std::uint32_t kAbortInvalidBlockSize = 0x05040002;
inline constexpr std::uint32_t kAbortInvalidSequence = 0x05040003;
inline constexpr std::uint32_t kAbortCrcError = 0x05040004;
inline constexpr std::uint32_t kAbortOutOfMemory = 0x05040005;
inline constexpr std::uint32_t kAbortUnsupportedAccess = 0x06010000;
inline constexpr std::uint32_t kAbortWriteOnly = 0x06010001;
inline constexpr std::uint32_t kAbortReadOnly = 0x06010002;
inline constexpr std::uint32_t kAbortNoObject = 0x06020000;
inline constexpr std::uint32_t kAbortLengthMismatch = 0x06070010;
inline constexpr std::uint32_t kAbortLengthTooHigh = 0x06070012;
inline constexpr std::uint32_t kAbortLengthTooLow = 0x06070013;
inline constexpr std::uint32_t kAbortNoSubIndex = 0x06090011;
inline constexpr std::uint32_t kAbortGeneralError = 0x08000000;  // also: the user cancelled

}  // namespace bp::sdo::proto
