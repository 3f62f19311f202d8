#include "busview/PdoValues.h"

#include <algorithm>

#include "od/ValueEncoding.h"
#include "od/ValueText.h"
#include "util/LittleEndian.h"

namespace bp::busview {
namespace {

bool isInteger(std::int8_t t) noexcept {
  return (t >= od::kBoolean && t <= od::kUnsigned32) || od::isWideInteger(t);
}

std::uint64_t lowBits(std::uint64_t bits, unsigned width) noexcept {
  return width >= 64 ? bits : bits & ((std::uint64_t{1} << width) - 1);
}

// The value's bytes, number and text from its raw bits.
void fillValue(PdoValue& v, const MappedObject& m, char decimalSep) {
  const std::size_t typeSize = od::fixedSize(m.dataType);
  std::uint64_t bits = v.raw;
  if (isInteger(m.dataType)) {
    const unsigned width = std::min<unsigned>(m.bitLength, static_cast<unsigned>(typeSize * 8));
    bits = lowBits(bits, width);
    const unsigned unused = 64 - width;
    const bool isSigned = od::isSignedInteger(m.dataType);
    if (isSigned && unused != 0)
      bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(bits << unused) >> unused);
    v.number = isSigned ? static_cast<double>(static_cast<std::int64_t>(bits)) : static_cast<double>(bits);
  }
  std::uint8_t buffer[8];
  storeLe64(buffer, bits);
  const std::size_t size = typeSize != 0 ? std::min<std::size_t>(typeSize, 8) : (m.bitLength + 7u) / 8u;
  v.bytes.assign(reinterpret_cast<const char*>(buffer), size);
  if (m.dataType == od::kTypeNone) {
    v.text = od::hexPairsText(v.bytes, " ");
    return;
  }
  od::ObjectEntry scratch;
  scratch.dataType = m.dataType;
  od::storeValueBytes(scratch, v.bytes, v.bytes.size());
  if (m.dataType == od::kReal32 || m.dataType == od::kReal64) v.number = scratch.realValue;
  v.text = od::FormatObjectValue(scratch, decimalSep);
}

}  // namespace

DecodedPdo splitPdo(const PdoMapping& pdo, const can::CanFrame& frame, char decimalSep) {
  DecodedPdo out;
  out.pdo = &pdo;
  const std::uint32_t frameBytes = std::min<std::uint32_t>(frame.len, 8);
  out.lengthMismatch = frameBytes < pdo.byteLength();
  if (frameBytes > pdo.byteLength())
    out.extraBytes = static_cast<std::uint8_t>(frameBytes - pdo.byteLength());
  const std::uint64_t all = loadLe64(frame.data.data());
  out.values.reserve(pdo.objects.size());
  for (const MappedObject& m : pdo.objects) {
    PdoValue& v = out.values.emplace_back();
    v.object = &m;
    v.fits = std::uint32_t{m.bitOffset} + m.bitLength <= frameBytes * 8;
    if (!v.fits) continue;
    v.raw = lowBits(all >> m.bitOffset, m.bitLength);
    if (!m.dummy) fillValue(v, m, decimalSep);
  }
  return out;
}

double valueNumber(std::int8_t dataType, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > 8) return std::numeric_limits<double>::quiet_NaN();
  std::uint8_t buffer[8] = {};
  std::copy(bytes.begin(), bytes.end(), buffer);
  MappedObject m;
  m.dataType = dataType;
  m.bitLength = static_cast<std::uint8_t>(bytes.size() * 8);
  PdoValue v;
  v.raw = lowBits(loadLe64(buffer), m.bitLength);
  fillValue(v, m, '.');
  // An object the dictionary lacks: its bytes as an unsigned number.
  return dataType == od::kTypeNone ? static_cast<double>(v.raw) : v.number;
}

std::vector<od::ObjectEntry*> storeInDictionary(const DecodedPdo& decoded) {
  std::vector<od::ObjectEntry*> changed;
  for (const PdoValue& v : decoded.values) {
    od::ObjectEntry* entry = v.object->entry;
    if (entry == nullptr || !v.fits) continue;
    od::storeValueBytes(*entry, v.bytes, v.bytes.size());
    changed.push_back(entry);
  }
  return changed;
}

}  // namespace bp::busview
