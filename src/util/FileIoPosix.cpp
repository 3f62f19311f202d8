// Files on Linux and other POSIX systems: the POSIX calls, failures in the C library's words.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "util/FileIo.h"

namespace bp::fileio {
namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::uint64_t kMaxReserve = 256ULL * 1024 * 1024;  // only a plausible size is reserved

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

}  // namespace

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

long processId() noexcept { return static_cast<long>(::getpid()); }

}  // namespace bp::fileio
