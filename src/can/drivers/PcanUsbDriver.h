#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "can/CanDriver.h"

namespace bp::can {

// The driver on Windows: the adapter's driver library (by default "pcan_usb.dll"), loaded at run
// time and bound by ordinal. Built on Windows only.
//
// The library's five operations, all __stdcall with a 32-bit unsigned result, 0 meaning success:
//   1 close()                       3 read(16-byte frame record*)      7 write(const record*)
//   2 open(WORD btr0btr1, int frameType)   6 versionText(char buffer[256])
// The record passed is the byte image of CanFrame (encodeFrame / decodeFrame), never the struct.
// Results of a loaded library are passed on unchanged.
//
// Loading: the constructor loads the library and binds the five ordinals once. The library then
// stays loaded, and the five entry points unchanged, until the driver is destroyed, so a read on
// the reader's thread may run at the same time as a write, close or open on the window thread
// and never calls into an unloaded module. When the library cannot be loaded (kErrLibraryMissing)
// or lacks one of the ordinals (kErrOrdinalMissing; the library is then released at once), open
// returns that code and close, read, write and versionText return kErrNotOpen. Nothing is shown
// to the user by the loader (no system error box).
class PcanUsbDriver final : public CanDriver {
 public:
  static constexpr const char* kDefaultLibraryName = "pcan_usb.dll";

  // Window thread. Loads `libraryName` (searched the system's way: the program's folder first).
  // Never fails: a failure is kept and reported by open() and loadError().
  explicit PcanUsbDriver(std::string libraryName = kDefaultLibraryName);
  // Releases the library. No call may be in progress or begin (stop the reader first).
  ~PcanUsbDriver() override;
  PcanUsbDriver(const PcanUsbDriver&) = delete;
  PcanUsbDriver& operator=(const PcanUsbDriver&) = delete;

  // kOk when the library and its five operations are bound, else kErrLibraryMissing or
  // kErrOrdinalMissing. Any thread.
  std::uint32_t loadError() const noexcept { return m_loadError; }
  const std::string& libraryName() const noexcept { return m_libraryName; }

  // Window thread. The library's open(bitRateCode, frameType), or the load error.
  std::uint32_t open(std::uint16_t bitRateCode, std::uint32_t frameType) override;
  // Window thread. The library's close(), or kErrNotOpen.
  std::uint32_t close() override;
  // Reader thread. The library's read into a 16-byte record, decoded into `frame` only on
  // success; kErrNotOpen when the library is not bound. Allocates nothing, takes no lock.
  std::uint32_t read(CanFrame& frame) noexcept override;
  // Window thread. The library's version text into `buffer` (256 bytes), always NUL-terminated
  // (the 256th byte is forced to NUL); "" and kErrNotOpen when the library is not bound.
  std::uint32_t versionText(char* buffer) override;
  // Window thread. The library's write of the frame's record, or kErrNotOpen.
  std::uint32_t write(const CanFrame& frame) override;

 private:
  struct Library;  // the module and its entry points (PcanUsbDriver.cpp)

  std::string m_libraryName;
  std::unique_ptr<const Library> m_library;  // set by the constructor only; null when not bound
  std::uint32_t m_loadError = kOk;           // set by the constructor only
};

}  // namespace bp::can
