#include "od/ObjectDictionary.h"

namespace bp::od {

void ObjectDictionary::AddObjectEntry(std::unique_ptr<ObjectEntry> entry) {
  if (!entry) return;
  ObjectEntry* record = entry.get();
  record->next = nullptr;  // chains are the dictionary's own; never point outside it
  m_owned.push_back(std::move(entry));

  // The map finds the same record a search of the list from its start would: each index is
  // listed once, at its first occurrence.
  const auto [it, inserted] = m_headOf.try_emplace(record->index, m_heads.size());
  if (inserted) {
    m_heads.push_back(record);
    m_tails.push_back(record);
    return;
  }
  ObjectEntry*& tail = m_tails[it->second];
  tail->next = record;
  tail = record;
}

void ObjectDictionary::ClearObjectDictionary() {
  if (m_beforeClear) m_beforeClear();
  m_headOf.clear();
  m_tails.clear();
  m_heads.clear();
  m_owned.clear();
}

std::vector<ObjectEntry*> ObjectDictionary::applyNodeId(std::uint8_t nodeId) {
  std::vector<ObjectEntry*> changed;
  for (const auto& owned : m_owned) {
    ObjectEntry& e = *owned;
    if (!e.defaultFromNodeId) continue;
    const bool wide = isWideInteger(e.dataType);
    const std::int64_t before = wide ? e.defaultValue64 : e.defaultValue;
    if ((wide ? e.value64 : e.value) != before) continue;  // edited: it stays
    setNodeIdDefault(e, nodeId);
    if ((wide ? e.defaultValue64 : e.defaultValue) != before) changed.push_back(&e);
  }
  return changed;
}

void setNodeIdDefault(ObjectEntry& entry, std::uint8_t nodeId) noexcept {
  const std::uint64_t sum = static_cast<std::uint64_t>(entry.nodeIdOffset) + nodeId;
  if (isWideInteger(entry.dataType)) {
    entry.defaultValue64 = static_cast<std::int64_t>(sum);
    entry.value64 = entry.defaultValue64;
  } else {
    entry.defaultValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(sum));
    entry.value = entry.defaultValue;
  }
}

ObjectEntry* ObjectDictionary::find(std::int32_t index, std::int32_t subIndex) const noexcept {
  const auto it = m_headOf.find(index);
  if (it == m_headOf.end()) return nullptr;
  for (ObjectEntry* e = m_heads[it->second]; e != nullptr; e = e->next) {
    if (e->subIndex == subIndex) return e;
  }
  return nullptr;
}

}  // namespace bp::od
