// The adapter's driver library, bound by ordinal (Windows only).
#include "can/drivers/PcanUsbDriver.h"

#include <array>

#include "util/WindowsApi.h"

namespace bp::can {

namespace {

using CloseFn = DWORD(WINAPI*)();
using OpenFn = DWORD(WINAPI*)(WORD btr0btr1, int frameType);
using ReadFn = DWORD(WINAPI*)(std::uint8_t* record);
using VersionFn = DWORD(WINAPI*)(char* buffer);
using WriteFn = DWORD(WINAPI*)(const std::uint8_t* record);

// The library's ordinals.
constexpr WORD kOrdClose = 1;
constexpr WORD kOrdOpen = 2;
constexpr WORD kOrdRead = 3;
constexpr WORD kOrdVersion = 6;
constexpr WORD kOrdWrite = 7;

// The entry point exported under `ordinal`, or null.
template <class Fn>
Fn bind(HMODULE module, WORD ordinal) {
  // GetProcAddress returns a generic function pointer; the cast names the operation's signature.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

struct PcanUsbDriver::Library {
  HMODULE module = nullptr;
  CloseFn close = nullptr;
  OpenFn open = nullptr;
  ReadFn read = nullptr;
  VersionFn version = nullptr;
  WriteFn write = nullptr;

  ~Library() {
    if (module != nullptr) FreeLibrary(module);
  }
  bool complete() const noexcept {
    return close != nullptr && open != nullptr && read != nullptr && version != nullptr && write != nullptr;
  }
};

PcanUsbDriver::PcanUsbDriver(std::string libraryName) : m_libraryName(std::move(libraryName)) {
  auto library = std::make_unique<Library>();
  // A library that is missing, or one whose own dependencies are, fails quietly: no system box.
  DWORD previousMode = 0;
  const bool modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
  library->module = LoadLibraryA(m_libraryName.c_str());
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  if (library->module == nullptr) {
    m_loadError = kErrLibraryMissing;
    return;
  }
  library->close = bind<CloseFn>(library->module, kOrdClose);
  library->open = bind<OpenFn>(library->module, kOrdOpen);
  library->read = bind<ReadFn>(library->module, kOrdRead);
  library->version = bind<VersionFn>(library->module, kOrdVersion);
  library->write = bind<WriteFn>(library->module, kOrdWrite);
  if (!library->complete()) {
    m_loadError = kErrOrdinalMissing;
    return;  // the library is released with `library`
  }
  m_library = std::move(library);
}

PcanUsbDriver::~PcanUsbDriver() = default;

std::uint32_t PcanUsbDriver::open(std::uint16_t bitRateCode, std::uint32_t frameType) {
  if (!m_library) return m_loadError;
  return m_library->open(static_cast<WORD>(bitRateCode), static_cast<int>(frameType));
}

std::uint32_t PcanUsbDriver::close() {
  if (!m_library) return kErrNotOpen;
  return m_library->close();
}

std::uint32_t PcanUsbDriver::read(CanFrame& frame) noexcept {
  if (!m_library) return kErrNotOpen;
  std::array<std::uint8_t, kFrameRecordSize> record{};
  const DWORD result = m_library->read(record.data());
  if (result == 0) frame = decodeFrame(record);
  return result;
}

std::uint32_t PcanUsbDriver::versionText(char* buffer) {
  buffer[0] = '\0';
  if (!m_library) return kErrNotOpen;
  const DWORD result = m_library->version(buffer);
  buffer[kVersionTextSize - 1] = '\0';
  return result;
}

std::uint32_t PcanUsbDriver::write(const CanFrame& frame) {
  if (!m_library) return kErrNotOpen;
  const auto record = encodeFrame(frame);
  return m_library->write(record.data());
}

}  // namespace bp::can
