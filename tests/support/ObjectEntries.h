#pragma once
#include <cstdint>

#include "od/ObjectEntry.h"

namespace bp::test {

// An object record as the tests hand it to the user list and the list file: what every record
// names, the rest at its default (further value fields are the caller's).
inline od::ObjectEntry objectEntry(std::int32_t index, std::int32_t subIndex, std::int8_t dataType,
                                   std::int32_t value, std::uint8_t direction, const char* name = "Object",
                                   std::uint32_t access = od::kReadWrite) {
  od::ObjectEntry e{};
  e.setName(name);
  e.access = access;
  e.index = index;
  e.subIndex = subIndex;
  e.dataType = dataType;
  e.value = value;
  e.direction = direction;
  return e;
}

}  // namespace bp::test
