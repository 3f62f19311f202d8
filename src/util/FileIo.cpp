#include "util/FileIo.h"

#include <algorithm>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#endif

namespace bp::fileio {
namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::uint64_t kMaxReserve = 256ULL * 1024 * 1024;  // only a plausible size is reserved

#if defined(_WIN32)

[[noreturn]] void failWithLastError() { throw SystemError(windowsErrorText(GetLastError())); }

std::string toUtf8(const wchar_t* text, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

// The path for the wide-character calls. A path that is not UTF-8 fails as the system would.
std::wstring widePath(const std::string& path) {
  if (path.empty()) return {};
  const int size = static_cast<int>(path.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (n <= 0) failWithLastError();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, out.data(), n);
  return out;
}

HANDLE openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  const HANDLE h = CreateFileW(widePath(path).c_str(), access, share, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) failWithLastError();
  return h;
}

#else

[[noreturn]] void failWithErrno(int err) {
  throw SystemError(std::generic_category().message(err != 0 ? err : EIO));
}

int openFd(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) failWithErrno(errno);
  return fd;
}

#endif

}  // namespace

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File old(std::exchange(m_handle, std::exchange(other.m_handle, kNone)));
  }
  return *this;
}

#if defined(_WIN32)

File::~File() {
  if (m_handle != kNone) CloseHandle(m_handle);
}

File File::openForReading(const std::string& path) {
  return File(openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
}

File File::createNew(const std::string& path) {
  return File(openHandle(path, GENERIC_WRITE, 0, CREATE_NEW));
}

std::vector<std::uint8_t> File::readAll() {
  std::vector<std::uint8_t> bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(m_handle, &size) && static_cast<std::uint64_t>(size.QuadPart) <= kMaxReserve) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  for (;;) {
    const std::size_t had = bytes.size();
    bytes.resize(had + kChunk);
    DWORD got = 0;
    if (!ReadFile(m_handle, bytes.data() + had, static_cast<DWORD>(kChunk), &got, nullptr)) {
      failWithLastError();
    }
    bytes.resize(had + got);
    if (got == 0) return bytes;
  }
}

void File::writeAll(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD put = 0;
    if (!WriteFile(m_handle, bytes.data(), part, &put, nullptr)) failWithLastError();
    bytes = bytes.subspan(put);
  }
}

void File::flushToDisk() {
  if (!FlushFileBuffers(m_handle)) failWithLastError();
}

void File::close() {
  if (!CloseHandle(std::exchange(m_handle, kNone))) failWithLastError();
}

void replaceFile(const std::string& from, const std::string& to) {
  if (!MoveFileExW(widePath(from).c_str(), widePath(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failWithLastError();
  }
}

void removeFile(const std::string& path) noexcept {
  try {
    DeleteFileW(widePath(path).c_str());
  } catch (...) {
  }
}

void syncFolderOf(const std::string&) noexcept {}

bool exists(const std::string& path) noexcept {
  try {
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  } catch (...) {
    return false;
  }
}

std::string nativePath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string windowsErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n > 0 ? toUtf8(text, static_cast<int>(n)) : std::string();
  LocalFree(text);
  while (!out.empty() && static_cast<unsigned char>(out.back()) <= ' ') out.pop_back();
  return out.empty() ? "Windows error " + std::to_string(code) : out;
}

#else

File::~File() {
  if (m_handle != kNone) ::close(m_handle);
}

File File::openForReading(const std::string& path) { return File(openFd(path, O_RDONLY)); }

File File::createNew(const std::string& path) {
  return File(openFd(path, O_WRONLY | O_CREAT | O_EXCL));
}

std::vector<std::uint8_t> File::readAll() {
  std::vector<std::uint8_t> bytes;
  struct stat st{};
  if (::fstat(m_handle, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) <= kMaxReserve) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  for (;;) {
    const std::size_t had = bytes.size();
    bytes.resize(had + kChunk);
    const ssize_t got = ::read(m_handle, bytes.data() + had, kChunk);
    const int err = errno;
    bytes.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0 && err != EINTR) failWithErrno(err);
    if (got == 0) return bytes;
  }
}

void File::writeAll(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(m_handle, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) failWithErrno(put < 0 ? errno : EIO);
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
}

void File::flushToDisk() {
  if (::fsync(m_handle) != 0) failWithErrno(errno);
}

void File::close() {
  if (::close(std::exchange(m_handle, kNone)) != 0 && errno != EINTR) failWithErrno(errno);
}

void replaceFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) failWithErrno(errno);
}

void removeFile(const std::string& path) noexcept { (void)::unlink(path.c_str()); }

void syncFolderOf(const std::string& path) noexcept {
  const std::string dir = std::filesystem::path(path).parent_path().string();
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    (void)::close(fd);
  }
}

bool exists(const std::string& path) noexcept {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

std::string nativePath(std::string path) { return path; }

#endif

}  // namespace bp::fileio
