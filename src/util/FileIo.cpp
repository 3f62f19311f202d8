#include "util/FileIo.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "util/Error.h"

namespace bp::fileio {
namespace {

[[noreturn]] void fail(const char* what, const std::string& path, const std::string& reason) {
  throw Error(std::string(what) + " \"" + nativePath(path) + "\". " + reason);
}

// A name for the temporary file next to `path`, unique within this process and among processes.
std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const long pid = processId();
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u", pid, counter.fetch_add(1) + 1);
  return path + suffix;
}

}  // namespace

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File old(std::exchange(m_handle, std::exchange(other.m_handle, kNone)));
  }
  return *this;
}

void writeFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string tmp = temporaryName(path);
  bool created = false;
  try {
    {
      File file = File::createNew(tmp);  // never reuses an existing file
      created = true;
      file.writeAll(bytes);
      file.flushToDisk();
      file.close();
    }
    replaceFile(tmp, path);
  } catch (const SystemError& e) {
    if (created) removeFile(tmp);
    fail("Cannot create file", path, e.what());
  }
  syncFolderOf(path);
}

std::vector<std::uint8_t> readWholeFile(const std::string& path) {
  File file;
  try {
    file = File::openForReading(path);
  } catch (const SystemError& e) {
    fail("Cannot open file", path, e.what());
  }
  try {
    return file.readAll();
  } catch (const SystemError& e) {
    fail("Cannot read file", path, e.what());
  }
}

}  // namespace bp::fileio
