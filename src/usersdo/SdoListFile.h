#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "od/ObjectEntry.h"
#include "usersdo/UserSdoList.h"

namespace bp::usersdo {

// One record of a list file: the object entry, 608 bytes, little-endian, offsets from the
// record's start. Padding and the two slots (text value, next) are written 0 and ignored when read.
namespace rec {
inline constexpr std::size_t kName = 0;          // 300 bytes, zero-terminated text
inline constexpr std::size_t kAccess = 300;      // u32
inline constexpr std::size_t kDataType = 304;    // 1 byte, then 3 bytes padding
inline constexpr std::size_t kIndex = 308;       // i32
inline constexpr std::size_t kSubIndex = 312;    // i32
inline constexpr std::size_t kValue = 316;       // i32
inline constexpr std::size_t kReal = 320;        // IEEE 754 double; wide integers: 64-bit pattern
inline constexpr std::size_t kTextSlot = 328;    // 4 bytes, always 0
inline constexpr std::size_t kDefValue = 332;    // i32
inline constexpr std::size_t kDefReal = 336;     // the same for the default
inline constexpr std::size_t kDefText = 344;     // 256 bytes, zero-terminated (see encodeRecord)
inline constexpr std::size_t kNextSlot = 600;    // 4 bytes, always 0
inline constexpr std::size_t kDirection = 604;   // 1 byte, then 3 bytes padding
inline constexpr std::size_t kSize = 608;
static_assert(kName + od::kNameSize == kAccess && kDefText + od::kDefaultTextSize == kNextSlot);
static_assert(kDirection + 4 == kSize);
}  // namespace rec

// The default list file in the current directory, loaded at start-up and saved at shut-down.
inline constexpr const char* kDefaultListFile = "SDOList.bin";
inline constexpr const char* kWrongFileSize = "Wrong file size";

// The record of one entry. Names and default texts are cut to 299 and 255 bytes, never inside a
// UTF-8 character (bytes that are not UTF-8 are cut where they fall). The wide integer types
// (od::isWideInteger) put value64 and defaultValue64 in the two real slots as 64-bit patterns;
// OCTET_STRING and UNICODE_STRING put their value, not a default, in the default-text field:
// upper-case hexadecimal pairs of at most 127 bytes, and the text. Never fails.
void encodeRecord(const od::ObjectEntry& entry, std::span<std::uint8_t, rec::kSize> out) noexcept;

// The entry of one record, no next link, the wider types' fields back from where encodeRecord puts
// them (an OCTET_STRING field that is not hexadecimal pairs gives an empty value); the text value
// stays empty for every other type. A name or default text without a terminator in its field is
// read up to the field's end less one byte (299 and 255 bytes), cut the same way as when written.
od::ObjectEntry decodeRecord(std::span<const std::uint8_t, rec::kSize> in);

// The bytes of a list file: one record per entry, in list order (0 bytes for an empty list).
std::vector<std::uint8_t> encodeUserSdoList(const UserSdoList& list);

// The entries of a list file's bytes, in file order. Throws bp::Error "Wrong file size" when the
// size is not a multiple of 608.
UserSdoList decodeUserSdoList(std::span<const std::uint8_t> bytes);

// Window thread. Writes the list to `path`: the bytes go to a new file next to it, which replaces
// `path` only after every byte was written and flushed to the disk, so a failed save leaves an
// existing file as it was. Throws bp::Error "Cannot create file \"<path>\". <reason>" with the
// system's text for the reason (Windows' own text on Windows) and the path with the system's
// separators. Paths are UTF-8 (util/FileIo.h).
void SaveUserSdoList(const std::string& path, const UserSdoList& list);

// Window thread. The entries stored in `path`. Throws bp::Error "Cannot open file \"<path>\".
// <reason>" or "Cannot read file \"<path>\". <reason>" (system's text), or "Wrong file size".
// Changes no list: the caller replaces its list only with the result of a successful load.
UserSdoList LoadUserSdoList(const std::string& path);

// True when something exists at `path` (a missing default list file is no error at start-up).
// Never throws.
bool fileExists(const std::string& path) noexcept;

// Copies the file at `path` byte for byte to `backupPath`, replacing it the same safe way as
// SaveUserSdoList. Throws bp::Error "Cannot open file ...", "Cannot read file ..." (for `path`) or
// "Cannot create file ..." (for `backupPath`) as above.
void backUpFile(const std::string& path, const std::string& backupPath);

}  // namespace bp::usersdo
