#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// Files named by UTF-8 paths. On Windows every call goes through the system's wide-character
// calls and a failure is told in Windows' own words; elsewhere through the POSIX calls and the C
// library's texts.
namespace bp::fileio {

// A failed file call. what() is the system's text for why (UTF-8), e.g. "Permission denied".
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file open for reading or writing; closed when destroyed. Every call that fails throws
// SystemError.
class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  static File openForReading(const std::string& path);
  // A new, empty file for writing. Fails when anything exists at `path` already. Others may read
  // it while it is open (a log being recorded).
  static File createNew(const std::string& path);

  std::vector<std::uint8_t> readAll();
  void writeAll(std::span<const std::uint8_t> bytes);
  void flushToDisk();  // every byte written so far is on the disk
  void close();        // reports a failure of the last write-back

  // The system's handle: a file descriptor, or a Windows HANDLE as a number.
  using Handle = std::intptr_t;

 private:
  static constexpr Handle kNone = -1;  // never a valid descriptor or handle
  explicit File(Handle h) noexcept : m_handle(h) {}
  Handle m_handle = kNone;
};

// Renames `from` to `to`, replacing a file at `to`.
void replaceFile(const std::string& from, const std::string& to);
// Removes the file if it can; a failure is ignored.
void removeFile(const std::string& path) noexcept;
// Best effort: makes a rename inside the folder of `path` durable (nothing to do on Windows).
void syncFolderOf(const std::string& path) noexcept;
// True when something exists at `path`.
bool exists(const std::string& path) noexcept;

// Writes `bytes` as the new content of `path`: to a fresh temporary file next to it first, then
// renamed over `path` once every byte is written and on the disk. The temporary file never
// survives a failure, and `path` is either the old file or the complete new one. Throws bp::Error
// "Cannot create file "<path>". <reason>".
void writeFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes);
// The whole content of the file at `path`. Throws bp::Error "Cannot open file "<path>". <reason>"
// or "Cannot read file ...".
std::vector<std::uint8_t> readWholeFile(const std::string& path);

// This process's ID (FileIoPosix.cpp, FileIoWin.cpp).
long processId() noexcept;

// `path` as the system writes paths: backslashes for slashes on Windows, unchanged elsewhere.
std::string nativePath(std::string path);

// Windows only (FileIoWin.cpp): Windows' text for a Windows error code (GetLastError), in UTF-8
// without the line break.
std::string windowsErrorText(unsigned long code);

}  // namespace bp::fileio
