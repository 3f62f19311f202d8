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

ObjectEntry* ObjectDictionary::find(std::int32_t index, std::int32_t subIndex) const noexcept {
  const auto it = m_headOf.find(index);
  if (it == m_headOf.end()) return nullptr;
  for (ObjectEntry* e = m_heads[it->second]; e != nullptr; e = e->next) {
    if (e->subIndex == subIndex) return e;
  }
  return nullptr;
}

}  // namespace bp::od
