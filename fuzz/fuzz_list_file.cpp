// Fuzz target: the bytes of a user SDO list file, as a load hands them to the decoder.
//
// Invariants: only bp::Error "Wrong file size" escapes, exactly when the size is no multiple of
// 608; every entry's name holds at most 299 bytes and its default text at most 255, with no NUL
// inside; no entry has a text value or a next link; encoding the entries gives the input back with
// its padding, its two slots and the bytes after each text's terminator zeroed; the list's row
// texts and the dictionary's captions of the entries can be made.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "od/ValueText.h"
#include "usersdo/SdoListFile.h"
#include "usersdo/UserSdoList.h"
#include "util/Error.h"
#include "util/Utf8.h"

namespace {

using bp::fuzz::check;
namespace rec = bp::usersdo::rec;

// A text field as the encoder writes it: the bytes up to the first NUL, at most size - 1 and never
// ending inside a UTF-8 character, then 0.
void normaliseText(std::uint8_t* field, std::size_t size) {
  std::size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  n = bp::utf8CutLength(std::string_view(reinterpret_cast<const char*>(field), n), size - 1);
  std::fill(field + n, field + size, std::uint8_t{0});
}

// The record the encoder should give back for `in`.
std::vector<std::uint8_t> normalised(std::span<const std::uint8_t> in) {
  std::vector<std::uint8_t> out(in.begin(), in.end());
  for (std::size_t at = 0; at < out.size(); at += rec::kSize) {
    std::uint8_t* r = out.data() + at;
    normaliseText(r + rec::kName, bp::od::kNameSize);
    normaliseText(r + rec::kDefText, bp::od::kDefaultTextSize);
    std::fill(r + rec::kDataType + 1, r + rec::kDataType + 4, std::uint8_t{0});
    std::fill(r + rec::kTextSlot, r + rec::kTextSlot + 4, std::uint8_t{0});
    std::fill(r + rec::kNextSlot, r + rec::kNextSlot + 4, std::uint8_t{0});
    std::fill(r + rec::kDirection + 1, r + rec::kDirection + 4, std::uint8_t{0});
  }
  return out;
}

// OCTET_STRING and UNICODE_STRING records keep their value in the default-text field, in one
// spelling of the encoder's own (hex pairs, cut text): that field is compared by stability alone.
bool holdsValueText(std::int8_t dataType) {
  return dataType == bp::od::kOctetString || dataType == bp::od::kUnicodeString;
}

std::vector<std::uint8_t> withoutValueTexts(std::vector<std::uint8_t> bytes) {
  for (std::size_t at = 0; at + rec::kSize <= bytes.size(); at += rec::kSize) {
    std::uint8_t* r = bytes.data() + at;
    if (holdsValueText(static_cast<std::int8_t>(r[rec::kDataType])))
      std::fill(r + rec::kDefText, r + rec::kDefText + bp::od::kDefaultTextSize, std::uint8_t{0});
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  bp::usersdo::UserSdoList list;
  try {
    list = bp::usersdo::decodeUserSdoList(bytes);
  } catch (const bp::Error& e) {
    check(std::string_view(e.what()) == bp::usersdo::kWrongFileSize, "decode message", e.what());
    check(size % rec::kSize != 0, "a whole number of records refused");
    return 0;
  }
  check(size % rec::kSize == 0, "a broken size accepted");
  check(list.size() == size / rec::kSize, "one entry per record");

  for (const auto& entry : list) {
    check(entry != nullptr, "null entry");
    const std::string_view name = entry->nameText();
    const std::string_view defText = entry->defaultTextView();
    check(name.size() <= 299, "name longer than 299 bytes");
    check(defText.size() <= 255, "default text longer than 255 bytes");
    check(name.find('\0') == std::string_view::npos, "NUL inside the name");
    check(defText.find('\0') == std::string_view::npos, "NUL inside the default text");
    check(entry->name[bp::od::kNameSize - 1] == '\0', "name field without a terminator");
    check(entry->defaultText[bp::od::kDefaultTextSize - 1] == '\0', "default text without a terminator");
    if (!holdsValueText(entry->dataType)) check(entry->textValue.empty(), "text value read from a file");
    check(entry->next == nullptr, "next link read from a file");

    // What the window makes of a loaded entry: its row and its caption, with either separator.
    for (const char sep : {'.', ','}) {
      const auto row = bp::usersdo::userRowTexts(*entry, sep);
      check(row[0] == (entry->direction == bp::od::kWrite ? "W" : "R"), "row direction text");
      check(row[1] == name, "row name text");
      (void)bp::od::FormatNodeCaption(*entry, sep);
    }
  }

  const std::vector<std::uint8_t> again = bp::usersdo::encodeUserSdoList(list);
  check(withoutValueTexts(again) == withoutValueTexts(normalised(bytes)), "encode(decode(x)) differs from x");
  // The value texts come back in their one spelling, which then stays as it is.
  check(bp::usersdo::encodeUserSdoList(bp::usersdo::decodeUserSdoList(again)) == again, "encoding not stable");

  // Re-adding the entries to a fresh list keeps at most one of each equivalent pair, never more.
  bp::usersdo::UserSdoList fresh;
  for (const auto& entry : list) (void)bp::usersdo::addToUserSdoList(fresh, *entry, '.');
  check(fresh.size() <= list.size() && (list.empty() || !fresh.empty()), "re-added list size");
  return 0;
}
