// Files on Windows: the wide-character calls, failures in Windows' own words.
#include <algorithm>
#include <utility>

#include "util/FileIo.h"
#include "util/WindowsApi.h"

namespace bp::fileio {
namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::uint64_t kMaxReserve = 256ULL * 1024 * 1024;  // only a plausible size is reserved

HANDLE native(File::Handle h) noexcept { return reinterpret_cast<HANDLE>(h); }
File::Handle handleOf(HANDLE h) noexcept { return reinterpret_cast<File::Handle>(h); }

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

}  // namespace

File::~File() {
  if (m_handle != kNone) CloseHandle(native(m_handle));
}

File File::openForReading(const std::string& path) {
  return File(handleOf(openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)));
}

File File::createNew(const std::string& path) {
  return File(handleOf(openHandle(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW)));
}

std::vector<std::uint8_t> File::readAll() {
  std::vector<std::uint8_t> bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(native(m_handle), &size) && static_cast<std::uint64_t>(size.QuadPart) <= kMaxReserve) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  for (;;) {
    const std::size_t had = bytes.size();
    bytes.resize(had + kChunk);
    DWORD got = 0;
    if (!ReadFile(native(m_handle), bytes.data() + had, static_cast<DWORD>(kChunk), &got, nullptr)) {
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
    if (!WriteFile(native(m_handle), bytes.data(), part, &put, nullptr)) failWithLastError();
    bytes = bytes.subspan(put);
  }
}

void File::flushToDisk() {
  if (!FlushFileBuffers(native(m_handle))) failWithLastError();
}

void File::close() {
  if (!CloseHandle(native(std::exchange(m_handle, kNone)))) failWithLastError();
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

long processId() noexcept { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace bp::fileio
