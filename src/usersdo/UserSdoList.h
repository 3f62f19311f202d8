#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "od/ObjectEntry.h"

namespace bp::usersdo {

// The user's own ordered list of objects to read ("R", direction 0) or write ("W", direction 1).
// The list owns its entries; each is independent of the dictionary record it was copied from and
// has no next link. Window thread only.
using UserSdoList = std::vector<std::unique_ptr<od::ObjectEntry>>;

// Appends a copy of `entry` (every field, next cleared) unless an equivalent entry is already in
// the list: same index, sub-index and direction and, for a write entry, the same
// od::FormatObjectValue text (exact comparison; decimalSep as for the display). So the list holds
// at most one read entry per object and one write entry per object and value. Returns true when
// the copy was appended. Throws only std::bad_alloc.
bool addToUserSdoList(UserSdoList& list, const od::ObjectEntry& entry, char decimalSep);

// True for the data types whose current value the list file keeps (every integer width, REAL32,
// REAL64, OCTET_STRING, UNICODE_STRING): a write entry of such a type writes what it was given.
bool listKeepsValueOf(std::int8_t dataType) noexcept;

// The order of the rows after dropping row `dragged` of `rowCount` rows on row `target` (no
// target: the empty area below the last row), as the list of old positions in their new order.
// The dragged row is copied to the end (no target), to target + 1 (target below it) or to target
// (target above it), then the original is deleted, so it lands on the target's former position.
// Dropping a row on itself, or a `dragged` outside the rows (no selection), leaves the order as it
// is; a target outside the rows counts as no target.
std::vector<int> dropOrder(int rowCount, int dragged, std::optional<int> target);

// Rebuilds the list in `order` (old positions in their new order, as dropOrder gives them). No
// entry is freed or copied. Throws std::invalid_argument, leaving the list unchanged, when
// `order` is not a permutation of the list's positions.
void applyOrder(UserSdoList& list, const std::vector<int>& order);

// Removes and frees the entry at `position`; a position outside the list does nothing.
void removeAt(UserSdoList& list, int position);

// The texts of one row of the list view, by column: "W" or "R", the name, the index as "0x%04X",
// the sub-index as "%i" and od::FormatObjectValue of the entry.
std::array<std::string, 5> userRowTexts(const od::ObjectEntry& entry, char decimalSep);

// Why a write entry cannot be written: od::storedValueError of its value and data type (a list
// file may hold any value). nullopt for read entries and for values that fit.
std::optional<std::string> writeValueError(const od::ObjectEntry& entry);
// The first such reason among the list's write entries; nullopt when every one fits.
std::optional<std::string> writeValueError(const UserSdoList& list);

// Read all (direction 0) or write all (direction 1): calls `transfer` on every entry of that
// direction, top to bottom, skipping the others. The first exception ends the run and is rethrown
// unchanged; the entries after it are not transferred, the values stored before it stay. The
// callback must not add or remove entries.
void transferAll(UserSdoList& list, std::uint8_t direction,
                 const std::function<void(od::ObjectEntry&)>& transfer);

}  // namespace bp::usersdo
