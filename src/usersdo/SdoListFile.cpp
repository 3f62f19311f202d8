#include "usersdo/SdoListFile.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>

#include "od/ValueText.h"
#include "util/Error.h"
#include "util/FileIo.h"
#include "util/LittleEndian.h"
#include "util/Utf8.h"

namespace bp::usersdo {
namespace {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);

// A text field: the bytes up to the first terminator, at most the field's size less one, never
// ending inside a UTF-8 character.
template <std::size_t N>
void putText(std::uint8_t* field, std::string_view text) noexcept {
  const std::size_t n = utf8CutLength(text, N - 1);
  for (std::size_t i = 0; i < n; ++i) field[i] = static_cast<std::uint8_t>(text[i]);
  // The rest of the field, terminator included, is already 0.
}

// The bytes up to the first terminator or the field's end; the entry cuts them as putText does.
template <std::size_t N>
std::string_view getText(const std::uint8_t* field) noexcept {
  std::size_t n = 0;
  while (n < N && field[n] != 0) ++n;
  return {reinterpret_cast<const char*>(field), n};
}

// The default-text field: the default text, but the value for UNICODE_STRING and OCTET_STRING
// (upper-case hexadecimal pairs, as many whole bytes as fit), whose value the list keeps.
void putDefTextField(std::uint8_t* field, const od::ObjectEntry& e) noexcept {
  if (e.dataType == od::kUnicodeString) {
    putText<od::kDefaultTextSize>(field, e.textValue);
  } else if (e.dataType == od::kOctetString) {
    const std::size_t n = std::min(e.textValue.size(), (od::kDefaultTextSize - 1) / 2);
    for (std::size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(e.textValue[i]);
      field[2 * i] = static_cast<std::uint8_t>(od::kHexDigits[b >> 4]);
      field[2 * i + 1] = static_cast<std::uint8_t>(od::kHexDigits[b & 0xF]);
    }
  } else {
    putText<od::kDefaultTextSize>(field, e.defaultTextView());
  }
}

// A wide integer's value and default stand in the two real slots as 64-bit patterns.
std::uint64_t realSlot(const od::ObjectEntry& e, double real, std::int64_t wide) noexcept {
  return od::isWideInteger(e.dataType) ? static_cast<std::uint64_t>(wide)
                                       : std::bit_cast<std::uint64_t>(real);
}

// The fields of the new data types back from where encodeRecord put them in record `p`.
void decodeWiderTypes(od::ObjectEntry& e, const std::uint8_t* p) {
  if (od::isWideInteger(e.dataType)) {
    e.value64 = static_cast<std::int64_t>(loadLe64(p + rec::kReal));
    e.defaultValue64 = static_cast<std::int64_t>(loadLe64(p + rec::kDefReal));
    e.realValue = 0.0;
    e.defaultReal = 0.0;
  } else if (e.dataType == od::kUnicodeString || e.dataType == od::kOctetString) {
    const std::string_view field = e.defaultTextView();
    if (e.dataType == od::kUnicodeString) e.textValue = field;
    else if (!od::tryHexPairs(field, e.textValue)) e.textValue.clear();
    e.setDefaultText({});
  }
}

}  // namespace

void encodeRecord(const od::ObjectEntry& e, std::span<std::uint8_t, rec::kSize> out) noexcept {
  std::fill(out.begin(), out.end(), std::uint8_t{0});  // padding and both slots stay 0
  std::uint8_t* p = out.data();
  putText<od::kNameSize>(p + rec::kName, e.nameText());
  storeLe32(p + rec::kAccess, e.access);
  p[rec::kDataType] = static_cast<std::uint8_t>(e.dataType);
  storeLe32(p + rec::kIndex, static_cast<std::uint32_t>(e.index));
  storeLe32(p + rec::kSubIndex, static_cast<std::uint32_t>(e.subIndex));
  storeLe32(p + rec::kValue, static_cast<std::uint32_t>(e.value));
  storeLe64(p + rec::kReal, realSlot(e, e.realValue, e.value64));
  storeLe32(p + rec::kDefValue, static_cast<std::uint32_t>(e.defaultValue));
  storeLe64(p + rec::kDefReal, realSlot(e, e.defaultReal, e.defaultValue64));
  putDefTextField(p + rec::kDefText, e);
  p[rec::kDirection] = e.direction;
}

od::ObjectEntry decodeRecord(std::span<const std::uint8_t, rec::kSize> in) {
  const std::uint8_t* p = in.data();
  od::ObjectEntry e{};
  e.setName(getText<od::kNameSize>(p + rec::kName));
  e.access = loadLe32(p + rec::kAccess);
  e.dataType = static_cast<std::int8_t>(p[rec::kDataType]);
  e.index = static_cast<std::int32_t>(loadLe32(p + rec::kIndex));
  e.subIndex = static_cast<std::int32_t>(loadLe32(p + rec::kSubIndex));
  e.value = static_cast<std::int32_t>(loadLe32(p + rec::kValue));
  e.realValue = std::bit_cast<double>(loadLe64(p + rec::kReal));
  e.defaultValue = static_cast<std::int32_t>(loadLe32(p + rec::kDefValue));
  e.defaultReal = std::bit_cast<double>(loadLe64(p + rec::kDefReal));
  e.setDefaultText(getText<od::kDefaultTextSize>(p + rec::kDefText));
  e.direction = p[rec::kDirection];
  decodeWiderTypes(e, p);
  return e;  // next null; textValue empty but for OCTET_STRING and UNICODE_STRING
}

std::vector<std::uint8_t> encodeUserSdoList(const UserSdoList& list) {
  std::vector<std::uint8_t> bytes(list.size() * rec::kSize);
  for (std::size_t i = 0; i < list.size(); ++i) {
    encodeRecord(*list[i], std::span<std::uint8_t, rec::kSize>(bytes.data() + i * rec::kSize, rec::kSize));
  }
  return bytes;
}

UserSdoList decodeUserSdoList(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % rec::kSize != 0) throw Error(kWrongFileSize);
  UserSdoList list;
  list.reserve(bytes.size() / rec::kSize);
  for (std::size_t at = 0; at < bytes.size(); at += rec::kSize) {
    list.push_back(std::make_unique<od::ObjectEntry>(
        decodeRecord(bytes.subspan(at).first<rec::kSize>())));
  }
  return list;
}

void SaveUserSdoList(const std::string& path, const UserSdoList& list) {
  const std::vector<std::uint8_t> bytes = encodeUserSdoList(list);
  fileio::writeFileReplacing(path, bytes);
}

UserSdoList LoadUserSdoList(const std::string& path) {
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
  return decodeUserSdoList(bytes);
}

bool fileExists(const std::string& path) noexcept { return fileio::exists(path); }

void backUpFile(const std::string& path, const std::string& backupPath) {
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
  fileio::writeFileReplacing(backupPath, bytes);
}

}  // namespace bp::usersdo
