#include "usersdo/SdoListFile.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "util/Error.h"
#include "util/LittleEndian.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace bp::usersdo {
namespace {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);

std::string reasonText(int err) { return std::generic_category().message(err); }

[[noreturn]] void fail(const char* what, const std::string& path, int err) {
  throw Error(std::string(what) + " \"" + path + "\". " + reasonText(err));
}

// A text field: the bytes up to the first terminator, at most the field's size less one.
template <std::size_t N>
void putText(std::uint8_t* field, std::string_view text) noexcept {
  const std::size_t n = std::min(text.size(), N - 1);
  for (std::size_t i = 0; i < n; ++i) field[i] = static_cast<std::uint8_t>(text[i]);
  // The rest of the field, terminator included, is already 0.
}

template <std::size_t N>
std::string_view getText(const std::uint8_t* field) noexcept {
  std::size_t n = 0;
  while (n < N - 1 && field[n] != 0) ++n;
  return {reinterpret_cast<const char*>(field), n};
}

// Flushes the file's data to the disk. False, with errno set, when that fails.
bool syncToDisk(std::FILE* f) {
#if defined(_WIN32)
  return _commit(_fileno(f)) == 0;
#else
  return ::fsync(::fileno(f)) == 0;
#endif
}

// Best effort: makes a rename inside `dir` durable. Failure changes nothing for the caller.
void syncDirectory([[maybe_unused]] const std::filesystem::path& dir) {
#if !defined(_WIN32)
  const std::string name = dir.empty() ? std::string(".") : dir.string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    (void)::close(fd);
  }
#endif
}

// A name for the temporary file next to `path`, unique within this process and among processes.
std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
  const long pid = static_cast<long>(_getpid());
#else
  const long pid = static_cast<long>(::getpid());
#endif
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u", pid, counter.fetch_add(1) + 1);
  return path + suffix;
}

// Writes `bytes` as the new content of `path`: to a fresh temporary file next to it first, then
// renamed over `path` once every byte is written and on the disk. The temporary file never
// survives a failure, and `path` is either the old file or the complete new one.
void writeFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string tmp = temporaryName(path);
  errno = 0;
  std::FILE* f = std::fopen(tmp.c_str(), "wbx");  // "x": never reuse an existing file
  if (f == nullptr) fail("Cannot create file", path, errno != 0 ? errno : EIO);

  int err = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) err = errno;
  if (err == 0 && std::fflush(f) != 0) err = errno;
  if (err == 0 && !syncToDisk(f)) err = errno;
  if (std::fclose(f) != 0 && err == 0) err = errno;
  if (err == 0) {
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (!ec) {
      syncDirectory(std::filesystem::path(path).parent_path());
      return;
    }
    err = ec.value();
  }
  std::remove(tmp.c_str());
  fail("Cannot create file", path, err != 0 ? err : EIO);
}

// The whole content of the file at `path`.
std::vector<std::uint8_t> readWholeFile(const std::string& path) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) fail("Cannot open file", path, errno != 0 ? errno : EIO);
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[16 * rec::kSize];
  int err = 0;
  while (true) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) {
      if (std::ferror(f)) err = errno != 0 ? errno : EIO;
      break;
    }
  }
  std::fclose(f);
  if (err != 0) fail("Cannot read file", path, err);
  return bytes;
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
  storeLe64(p + rec::kReal, std::bit_cast<std::uint64_t>(e.realValue));
  storeLe32(p + rec::kDefValue, static_cast<std::uint32_t>(e.defaultValue));
  storeLe64(p + rec::kDefReal, std::bit_cast<std::uint64_t>(e.defaultReal));
  putText<od::kDefaultTextSize>(p + rec::kDefText, e.defaultTextView());
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
  return e;  // textValue empty and next null: a file holds neither
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
  writeFileReplacing(path, bytes);
}

UserSdoList LoadUserSdoList(const std::string& path) {
  const std::vector<std::uint8_t> bytes = readWholeFile(path);
  return decodeUserSdoList(bytes);
}

bool fileExists(const std::string& path) noexcept {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

void backUpFile(const std::string& path, const std::string& backupPath) {
  const std::vector<std::uint8_t> bytes = readWholeFile(path);
  writeFileReplacing(backupPath, bytes);
}

}  // namespace bp::usersdo
