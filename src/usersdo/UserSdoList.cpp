#include "usersdo/UserSdoList.h"

#include <cstdio>
#include <stdexcept>

#include "od/ValueRange.h"
#include "od/ValueText.h"

namespace bp::usersdo {
namespace {

bool isEquivalent(const od::ObjectEntry& a, const od::ObjectEntry& b, char decimalSep) {
  if (a.index != b.index || a.subIndex != b.subIndex || a.direction != b.direction) return false;
  // Write entries differ by the value they write: one entry per object and written value.
  if (a.direction == od::kWrite) {
    return od::FormatObjectValue(a, decimalSep) == od::FormatObjectValue(b, decimalSep);
  }
  return true;
}

}  // namespace

bool listKeepsValueOf(std::int8_t t) noexcept {
  return (t >= od::kBoolean && t <= od::kReal32) || od::isWideInteger(t) || t == od::kReal64 ||
         t == od::kOctetString || t == od::kUnicodeString;
}

bool addToUserSdoList(UserSdoList& list, const od::ObjectEntry& entry, char decimalSep) {
  for (const auto& e : list) {
    if (isEquivalent(*e, entry, decimalSep)) return false;
  }
  auto copy = std::make_unique<od::ObjectEntry>(entry);  // texts copied, not shared
  copy->next = nullptr;
  list.push_back(std::move(copy));
  return true;
}

std::vector<int> dropOrder(int rowCount, int dragged, std::optional<int> target) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(rowCount > 0 ? rowCount + 1 : 0));
  for (int i = 0; i < rowCount; ++i) rows.push_back(i);
  if (dragged < 0 || dragged >= rowCount) return rows;
  if (target && (*target < 0 || *target >= rowCount)) target.reset();
  if (target == dragged) return rows;

  // Insert the copy first, then delete the original, as the list view does.
  const int s = dragged;
  int insertAt = rowCount;
  if (target) insertAt = *target > s ? *target + 1 : *target;
  rows.insert(rows.begin() + insertAt, s);
  const int originalAt = insertAt <= s ? s + 1 : s;
  rows.erase(rows.begin() + originalAt);
  return rows;
}

void applyOrder(UserSdoList& list, const std::vector<int>& order) {
  if (order.size() != list.size()) throw std::invalid_argument("row order does not match the list");
  std::vector<bool> seen(list.size(), false);
  for (const int p : order) {
    if (p < 0 || static_cast<std::size_t>(p) >= list.size() || seen[static_cast<std::size_t>(p)]) {
      throw std::invalid_argument("row order is not a permutation of the list");
    }
    seen[static_cast<std::size_t>(p)] = true;
  }
  UserSdoList reordered;
  reordered.reserve(list.size());
  for (const int p : order) reordered.push_back(std::move(list[static_cast<std::size_t>(p)]));
  list = std::move(reordered);
}

void removeAt(UserSdoList& list, int position) {
  if (position < 0 || static_cast<std::size_t>(position) >= list.size()) return;
  list.erase(list.begin() + position);
}

std::array<std::string, 5> userRowTexts(const od::ObjectEntry& entry, char decimalSep) {
  char index[16];
  char sub[16];
  std::snprintf(index, sizeof index, "0x%04X", static_cast<unsigned>(entry.index));
  std::snprintf(sub, sizeof sub, "%i", static_cast<int>(entry.subIndex));
  return {entry.direction == od::kWrite ? "W" : "R", std::string(entry.nameText()), index, sub,
          od::FormatObjectValue(entry, decimalSep)};
}

std::optional<std::string> writeValueError(const od::ObjectEntry& entry) {
  if (entry.direction != od::kWrite) return std::nullopt;
  return od::storedValueError(entry.dataType, entry.value);
}

std::optional<std::string> writeValueError(const UserSdoList& list) {
  for (const auto& e : list) {
    if (auto error = writeValueError(*e)) return error;
  }
  return std::nullopt;
}

void transferAll(UserSdoList& list, std::uint8_t direction,
                 const std::function<void(od::ObjectEntry&)>& transfer) {
  for (const auto& e : list) {
    if (e->direction == direction) transfer(*e);
  }
}

}  // namespace bp::usersdo
