#include "can/CanFrame.h"

#include "util/LittleEndian.h"

namespace bp::can {

std::array<std::uint8_t, kFrameRecordSize> encodeFrame(const CanFrame& f) noexcept {
  std::array<std::uint8_t, kFrameRecordSize> b{};
  storeLe32(&b[0], f.id);
  b[4] = f.type;
  b[5] = f.len;
  for (std::size_t i = 0; i < 8; ++i) b[6 + i] = f.data[i];
  b[14] = f.pad[0];
  b[15] = f.pad[1];
  return b;
}

CanFrame decodeFrame(const std::array<std::uint8_t, kFrameRecordSize>& b) noexcept {
  CanFrame f;
  f.id = loadLe32(&b[0]);
  f.type = b[4];
  f.len = b[5];
  for (std::size_t i = 0; i < 8; ++i) f.data[i] = b[6 + i];
  f.pad[0] = b[14];
  f.pad[1] = b[15];
  return f;
}

}  // namespace bp::can
