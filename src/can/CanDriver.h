#pragma once
#include <cstddef>
#include <cstdint>

#include "can/CanFrame.h"

namespace bp::can {

// Result codes of the driver operations. 0 is success; every non-zero value is one of these.
enum DriverCode : std::uint32_t {
  kOk = 0,
  kErrNotOpen = 1,        // the bus is not open (write, read)
  kErrQueueEmpty = 32,    // read: nothing in the receive queue
  kErrIllegalParam = 64,  // open: unknown bit-rate code; write: length above 8
  kErrTxQueueFull = 128,  // write: the transmit queue is full
  kErrNoInterface = 256,  // open: the interface does not exist or cannot be used
  kErrBitRate = 512,      // open: the interface runs at another bit rate and may not be changed
  kErrSystem = 1024,      // any other failure of the operating system
  // The adapter's driver library (Windows, PcanUsbDriver): open returns these when the library
  // could not be loaded, or lacks one of the five operations; every other call then returns
  // kErrNotOpen.
  kErrLibraryMissing = 2048,
  kErrOrdinalMissing = 4096,
};

inline constexpr std::size_t kVersionTextSize = 256;

// The adapter driver: five operations, each returning 0 on success.
// Threads: read is called only by the high-rate reader's thread; open, close, versionText and
// write only by the window thread. Implementations accept a read at the same time as any of the
// others.
class CanDriver {
 public:
  virtual ~CanDriver() = default;
  virtual std::uint32_t open(std::uint16_t bitRateCode, std::uint32_t frameType) = 0;
  virtual std::uint32_t close() = 0;
  // Takes one frame from the receive queue into `frame`; non-zero when nothing was delivered.
  // Never blocks.
  virtual std::uint32_t read(CanFrame& frame) noexcept = 0;
  // Fills `buffer` (256 bytes) with a NUL-terminated description of the driver.
  virtual std::uint32_t versionText(char* buffer) = 0;
  virtual std::uint32_t write(const CanFrame& frame) = 0;

  // Optional, for the thread that reads: sleeps until a frame may be waiting to be read,
  // interruptWait() has been called since the last wait, or timeoutMs has passed; returns at once
  // when frames are already waiting. Returns false, without waiting, when the driver cannot wait
  // for frames (its reader then polls). Never allocates or throws.
  virtual bool waitForFrames(std::uint32_t timeoutMs) noexcept {
    (void)timeoutMs;
    return false;
  }
  // Optional, any thread: makes a waitForFrames in progress, or else the next one, return at once.
  virtual void interruptWait() noexcept {}
};

}  // namespace bp::can
