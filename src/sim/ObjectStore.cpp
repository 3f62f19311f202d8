#include "sim/ObjectStore.h"

#include <bit>

#include "od/ValueEncoding.h"
#include "sdo/SdoProtocol.h"

namespace bp::sim {
namespace {

namespace proto = sdo::proto;

// The low `size` bytes of `v`, least significant first.
std::vector<std::uint8_t> bytesOf(std::int64_t v, std::size_t size) {
  std::vector<std::uint8_t> out(size);
  const auto u = static_cast<std::uint64_t>(v);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(u >> (8 * i));
  return out;
}

// The default of a record as bytes on the bus. The EDS reader fills defaultValue for the
// integer types up to 32 bits, defaultValue64 for the wider ones, defaultReal for REAL32 and
// REAL64, the text for VISIBLE_STRING and the bytes for OCTET_STRING; every other type starts as
// zeros (fixed size) or empty (variable length).
std::vector<std::uint8_t> defaultBytes(const od::ObjectEntry& e, std::uint8_t type, std::size_t size) {
  switch (type) {
    case od::kReal32: {
      const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(e.defaultReal));
      return bytesOf(bits, 4);
    }
    case od::kReal64: return bytesOf(std::bit_cast<std::int64_t>(e.defaultReal), 8);
    case od::kVisibleString: {
      const std::string_view text = e.defaultTextView();
      return {text.begin(), text.end()};
    }
    case od::kOctetString: return {e.defaultBytes.begin(), e.defaultBytes.end()};
    default:
      if (size == 0) return {};
      if (od::isWideInteger(static_cast<std::int8_t>(type))) return bytesOf(e.defaultValue64, size);
      return bytesOf(type <= od::kUnsigned32 ? e.defaultValue : 0, size);  // the time types: 0
  }
}

std::size_t maxSizeOf(std::uint8_t type, std::size_t fixedSize) noexcept {
  if (fixedSize != 0) return fixedSize;
  return type == od::kDomain ? ObjectStore::kMaxDomainSize : ObjectStore::kMaxValueSize;
}

}  // namespace

ObjectStore::ObjectStore(const od::ObjectDictionary& dictionary) {
  for (const od::ObjectEntry* head : dictionary.heads()) {
    for (const od::ObjectEntry* e = head; e != nullptr; e = e->next) {
      if (e->index < 0 || e->index > 0xFFFF || e->subIndex > 0xFF) continue;
      const auto index = static_cast<std::uint16_t>(e->index);
      m_indices.insert(index);
      if (e->subIndex < 0) continue;  // head of an array or record: its subs hold the values

      Variable v;
      v.index = index;
      v.subIndex = static_cast<std::uint8_t>(e->subIndex);
      v.dataType = static_cast<std::uint8_t>(e->dataType);
      v.access = e->access <= od::kReadWrite ? e->access : od::kReadWrite;
      v.fixedSize = od::fixedSize(static_cast<std::int8_t>(v.dataType));
      v.maxSize = maxSizeOf(v.dataType, v.fixedSize);
      v.defaultValue = defaultBytes(*e, v.dataType, v.fixedSize);
      if (v.defaultValue.size() > v.maxSize) v.defaultValue.resize(v.maxSize);
      v.value = v.defaultValue;
      m_variables.try_emplace(key(v.index, v.subIndex), std::move(v));
    }
  }
}

Variable* ObjectStore::find(std::uint16_t index, std::uint8_t subIndex) noexcept {
  const auto it = m_variables.find(key(index, subIndex));
  return it == m_variables.end() ? nullptr : &it->second;
}

const Variable* ObjectStore::find(std::uint16_t index, std::uint8_t subIndex) const noexcept {
  const auto it = m_variables.find(key(index, subIndex));
  return it == m_variables.end() ? nullptr : &it->second;
}

std::uint32_t ObjectStore::checkRead(std::uint16_t index, std::uint8_t subIndex,
                                     const Variable*& out) const noexcept {
  out = find(index, subIndex);
  if (out == nullptr) return hasIndex(index) ? proto::kAbortNoSubIndex : proto::kAbortNoObject;
  if (!out->readable()) return proto::kAbortWriteOnly;
  return 0;
}

std::uint32_t ObjectStore::checkWrite(std::uint16_t index, std::uint8_t subIndex,
                                      Variable*& out) noexcept {
  out = find(index, subIndex);
  if (out == nullptr) return hasIndex(index) ? proto::kAbortNoSubIndex : proto::kAbortNoObject;
  if (!out->writable()) return proto::kAbortReadOnly;
  return 0;
}

std::uint32_t ObjectStore::checkLength(const Variable& v, std::size_t size) noexcept {
  if (v.fixedSize != 0) return size == v.fixedSize ? 0 : proto::kAbortLengthMismatch;
  return size <= v.maxSize ? 0 : proto::kAbortLengthTooHigh;
}

std::optional<std::int64_t> ObjectStore::integerValue(std::uint16_t index,
                                                      std::uint8_t subIndex) const noexcept {
  const Variable* v = find(index, subIndex);
  if (v == nullptr || v->fixedSize == 0 || v->value.size() != v->fixedSize) return std::nullopt;
  std::uint64_t u = 0;
  for (std::size_t i = v->fixedSize; i-- > 0;) u = (u << 8) | v->value[i];
  const unsigned bits = static_cast<unsigned>(8 * v->fixedSize);
  if (od::isSignedInteger(static_cast<std::int8_t>(v->dataType)) && bits < 64 && ((u >> (bits - 1)) & 1u) != 0) {
    u |= ~std::uint64_t{0} << bits;  // sign-extend
  }
  return static_cast<std::int64_t>(u);
}

bool ObjectStore::setInteger(std::uint16_t index, std::uint8_t subIndex, std::int64_t value) noexcept {
  Variable* v = find(index, subIndex);
  if (v == nullptr || v->fixedSize == 0) return false;
  v->value.resize(v->fixedSize);
  const auto u = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < v->fixedSize; ++i) v->value[i] = static_cast<std::uint8_t>(u >> (8 * i));
  return true;
}

bool ObjectStore::resolveZeroDefault(std::uint16_t index, std::uint8_t subIndex,
                                     std::int64_t value) noexcept {
  Variable* v = find(index, subIndex);
  if (v == nullptr || v->fixedSize == 0) return false;
  for (std::uint8_t b : v->defaultValue) {
    if (b != 0) return true;  // a literal default stands
  }
  setInteger(index, subIndex, value);
  v->defaultValue = v->value;
  return true;
}

bool ObjectStore::setEmptyDefault(std::uint16_t index, std::uint8_t subIndex,
                                  std::vector<std::uint8_t> bytes) {
  Variable* v = find(index, subIndex);
  if (v == nullptr || !v->defaultValue.empty() || bytes.size() > v->maxSize) return false;
  v->defaultValue = std::move(bytes);
  v->value = v->defaultValue;
  return true;
}

void ObjectStore::resetToDefaults(std::uint16_t first, std::uint16_t last) {
  for (auto it = m_variables.lower_bound(key(first, 0));
       it != m_variables.end() && it->second.index <= last; ++it) {
    it->second.value = it->second.defaultValue;
  }
}

}  // namespace bp::sim
