#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace bp::can {

// The 16-byte frame record that the driver's write takes and its read fills.
// Senders value-initialise it (all zero) before filling it.
struct CanFrame {
  std::uint32_t id = 0;                  // 11-bit identifier for every frame we send
  std::uint8_t type = 0;                 // 0 data frame, 1 remote request, other: not a data frame
  std::uint8_t len = 0;                  // valid data bytes, 0..8
  std::array<std::uint8_t, 8> data{};    // bytes past len are 0 when sent
  std::array<std::uint8_t, 2> pad{};     // 0 when sent

  friend bool operator==(const CanFrame&, const CanFrame&) = default;
};
static_assert(sizeof(CanFrame) == 16);
static_assert(offsetof(CanFrame, id) == 0 && offsetof(CanFrame, type) == 4 &&
              offsetof(CanFrame, len) == 5 && offsetof(CanFrame, data) == 6 &&
              offsetof(CanFrame, pad) == 14);
static_assert(std::is_trivially_copyable_v<CanFrame>);

inline constexpr std::uint8_t kMsgData = 0;
inline constexpr std::uint8_t kMsgRemote = 1;
inline constexpr std::uint8_t kMsgExtended = 2;
inline constexpr std::uint8_t kMsgError = 0x80;

inline constexpr std::size_t kFrameRecordSize = 16;

// Byte image of the record, little-endian, field by field.
std::array<std::uint8_t, kFrameRecordSize> encodeFrame(const CanFrame& f) noexcept;
CanFrame decodeFrame(const std::array<std::uint8_t, kFrameRecordSize>& bytes) noexcept;

}  // namespace bp::can
