#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "od/ObjectEntry.h"

namespace bp::od {

// The node's object dictionary: one listed record per distinct index, in order of first
// occurrence; later records of the same index are chained through `next` behind it. The
// dictionary owns every record, chained ones included.
class ObjectDictionary {
 public:
  ObjectDictionary() = default;
  ObjectDictionary(const ObjectDictionary&) = delete;
  ObjectDictionary& operator=(const ObjectDictionary&) = delete;

  // Takes ownership; appends to the list or to the chain of the record with the same index.
  // The record is taken alone: its `next` is reset. A null pointer is ignored. Window thread.
  void AddObjectEntry(std::unique_ptr<ObjectEntry> entry);
  // Releases every record. Called before every load and at shut-down. The callback, when set,
  // runs first (so whoever refers to records can let go of them).
  void ClearObjectDictionary();
  void setBeforeClear(std::function<void()> callback) { m_beforeClear = std::move(callback); }

  // The node changed: every record whose default came from "$NODEID+X" and whose value still
  // equals that default gets default and value for `nodeId`. Returns the records changed, in the
  // order they were added.
  std::vector<ObjectEntry*> applyNodeId(std::uint8_t nodeId);

  // The listed records (chain heads), in list order.
  const std::vector<ObjectEntry*>& heads() const noexcept { return m_heads; }
  std::size_t recordCount() const noexcept { return m_owned.size(); }
  bool empty() const noexcept { return m_heads.empty(); }
  // First record (head or chained) with this index and sub-index, or nullptr.
  ObjectEntry* find(std::int32_t index, std::int32_t subIndex) const noexcept;

 private:
  std::vector<std::unique_ptr<ObjectEntry>> m_owned;  // every record
  std::vector<ObjectEntry*> m_heads;
  std::vector<ObjectEntry*> m_tails;                  // last record of each head's chain
  std::unordered_map<std::int32_t, std::size_t> m_headOf;  // index -> position in m_heads
  std::function<void()> m_beforeClear;
};

// Sets default and value of a record with a "$NODEID+X" default to nodeId + nodeIdOffset
// (value64 for the wide integer types, else value as a 32-bit pattern).
void setNodeIdDefault(ObjectEntry& entry, std::uint8_t nodeId) noexcept;

// The six category nodes of the tree, with their inclusive index ranges.
struct Category {
  std::string_view caption;
  std::int32_t first;
  std::int32_t last;
};
inline constexpr Category kCategoryTable[6] = {
    {"Communication", 0x1000, 0x13FF},
    {"Receive PDO Setup", 0x1400, 0x17FF},
    {"Transmit PDO Setup", 0x1800, 0x1BFF},
    {"Manufacturer Specific", 0x2000, 0x5FFF},
    {"Profile Specific", 0x6000, 0x9FFF},
    {"Interface Profile", 0xA000, 0xBFFF},
};

}  // namespace bp::od
