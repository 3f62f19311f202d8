#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "od/ObjectDictionary.h"

namespace bp::sim {

// One sub-object the node serves: its type, its access and its value as the bytes that travel
// on the bus (little-endian numbers, REAL32 as its 4-byte pattern, strings as their bytes).
struct Variable {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
  std::uint8_t dataType = 0;
  std::uint32_t access = od::kReadOnly;     // od::Access: 0 read-only/const, 1 write-only, 2 rw
  std::size_t fixedSize = 0;                // 0: the value varies in length
  std::size_t maxSize = 0;                  // the longest value it takes (fixedSize when fixed)
  std::vector<std::uint8_t> value;
  std::vector<std::uint8_t> defaultValue;

  bool readable() const noexcept { return access != od::kWriteOnly; }
  bool writable() const noexcept { return access == od::kWriteOnly || access == od::kReadWrite; }
};

// The values of a node's object dictionary, built from the records of an EDS file. Heads of
// arrays and records (sub-index -1) only make their index known; their sub-entries carry the
// values. Not thread-safe: its owner serialises every call.
class ObjectStore {
 public:
  // Longest value a string takes, and a DOMAIN.
  static constexpr std::size_t kMaxValueSize = 1024;
  static constexpr std::size_t kMaxDomainSize = 65536;

  ObjectStore() = default;
  // Copies type, access and default of every record; the first record of an index/sub-index
  // pair wins. Records whose index or sub-index lies outside 0..0xFFFF / 0..0xFF are left out.
  explicit ObjectStore(const od::ObjectDictionary& dictionary);

  std::size_t size() const noexcept { return m_variables.size(); }
  bool hasIndex(std::uint16_t index) const noexcept { return m_indices.count(index) != 0; }
  Variable* find(std::uint16_t index, std::uint8_t subIndex) noexcept;
  const Variable* find(std::uint16_t index, std::uint8_t subIndex) const noexcept;

  // SDO access rules (CiA 301). Each returns 0 and sets `out`, or the abort code:
  // 0x06020000 no such index, 0x06090011 no such sub-index, 0x06010001 read of a write-only
  // object, 0x06010002 write of a read-only or const object.
  std::uint32_t checkRead(std::uint16_t index, std::uint8_t subIndex, const Variable*& out) const noexcept;
  std::uint32_t checkWrite(std::uint16_t index, std::uint8_t subIndex, Variable*& out) noexcept;
  // 0 when `size` bytes fit the variable, else 0x06070010 (fixed size differs) or 0x06070012
  // (longer than its maxSize).
  static std::uint32_t checkLength(const Variable& v, std::size_t size) noexcept;

  // The value as a number: up to 8 bytes, little-endian, sign-extended for signed types.
  // nullopt when the object is missing or varies in length.
  std::optional<std::int64_t> integerValue(std::uint16_t index, std::uint8_t subIndex) const noexcept;
  // Stores the low bytes of `value` into a fixed-size object, whatever its access (the device
  // itself writes its read-only objects). False when the object is missing or varies in length.
  bool setInteger(std::uint16_t index, std::uint8_t subIndex, std::int64_t value) noexcept;
  // Makes `value` both the default and the current value when the default is 0 (an EDS default
  // such as "$NODEID+0x180" that the EDS reader leaves at 0). False when the object is missing.
  bool resolveZeroDefault(std::uint16_t index, std::uint8_t subIndex, std::int64_t value) noexcept;

  // Makes `bytes` both the default and the current value of a variable whose EDS file gives no
  // default (content an EDS file cannot carry, such as a long text or a domain's data). False
  // when the object is missing, has a default, or `bytes` exceeds its maxSize.
  bool setEmptyDefault(std::uint16_t index, std::uint8_t subIndex, std::vector<std::uint8_t> bytes);

  // Sets every object with an index in [first, last] back to its default value.
  void resetToDefaults(std::uint16_t first, std::uint16_t last);

 private:
  static std::uint32_t key(std::uint16_t index, std::uint8_t subIndex) noexcept {
    return (static_cast<std::uint32_t>(index) << 8) | subIndex;
  }
  std::map<std::uint32_t, Variable> m_variables;  // by key(index, subIndex), so in index order
  std::set<std::uint16_t> m_indices;              // every index named in the dictionary
};

}  // namespace bp::sim
