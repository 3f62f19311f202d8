#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "can/CanDriver.h"

namespace bp::can {

// The driver on a Linux SocketCAN interface (a raw AF_CAN socket bound to one interface).
//
// Frame types: kernel frames map to the record's type byte as flags: standard data 0, remote
// request kMsgRemote (1), extended identifier kMsgExtended (2, with the 29-bit identifier; an
// extended remote request is 3), error frames kMsgError with the error class bits as identifier.
// write maps types 0..3 back and refuses anything else.
//
// Bit rate: on a CAN controller interface (link kind "can") open sets the rate through the
// kernel's netlink interface (interface down, bit rate, up) when the process may; when it may
// not, open succeeds only if the interface already runs at the wanted rate. On a virtual
// interface (vcan, vxcan) the rate does not apply and any code of the bit-rate table opens it.
//
// Threads: read may run on the reader's thread while the window thread writes, closes or
// re-opens. The socket's descriptor is published through an atomic; read and write register in
// an atomic users counter before they load it, and close() takes the descriptor away first and
// then waits (yielding, for at most one non-blocking system call per registered call) until the
// calls registered before are gone, and only then closes it. The counters come in two epochs
// that close() flips, so calls that start while it waits never hold it up. No call ever uses a
// closed or reused descriptor, and read takes no lock. open, close and versionText are for one
// thread (the window thread) at a time.
class SocketCanDriver final : public CanDriver {
 public:
  // The interface to use, e.g. "can0" or "vcan0". Nothing is opened yet.
  explicit SocketCanDriver(std::string interfaceName);
  // Closes the socket. No read or write may be in progress or begin.
  ~SocketCanDriver() override;
  SocketCanDriver(const SocketCanDriver&) = delete;
  SocketCanDriver& operator=(const SocketCanDriver&) = delete;

  // The first SocketCAN interface (link type CAN) that is up, "can*" names before "vcan*"
  // before any other, numbers in numeric order (can2 before can10); "" when there is none.
  static std::string firstUsableInterface();

  // Opens the interface at the rate of a bit-rate table code; frameType is ignored. Closes a
  // socket opened before, so a failed open leaves the driver closed. Results: kErrIllegalParam
  // for a code not in the table, kErrNoInterface for a missing, non-CAN or down interface,
  // kErrBitRate when the rate cannot be set and differs, kErrSystem when a socket call fails.
  std::uint32_t open(std::uint16_t bitRateCode, std::uint32_t frameType) override;
  // Closes the socket (waits for a read or write in progress to leave it). Always kOk.
  std::uint32_t close() override;
  // Non-blocking. kOk with one frame, kErrQueueEmpty when none is waiting, kErrNotOpen when
  // closed, kErrSystem on any other failure. Never blocks, allocates or locks.
  std::uint32_t read(CanFrame& frame) noexcept override;
  // "SocketCAN <interface> (<driver>)", the driver being the kernel driver of the device or the
  // link kind ("vcan"). kErrNoInterface when the interface does not exist.
  std::uint32_t versionText(char* buffer) override;
  // kOk when the kernel accepted the frame; kErrTxQueueFull when its transmit queue is full
  // (ENOBUFS, EAGAIN), kErrNotOpen when closed, kErrIllegalParam for a length above 8, an
  // identifier out of range or an unknown type, kErrSystem otherwise (a link that is down among
  // them; the socket stays bound, and writes succeed again once the link is up).
  std::uint32_t write(const CanFrame& frame) override;
  // Sleeps in poll() on the socket and on an event counter of the driver's own, so the reader
  // wakes the moment a frame arrives. While closed it sleeps on the counter alone (open, close
  // and interruptWait() count it up). Reader's thread only; no lock.
  bool waitForFrames(std::uint32_t timeoutMs) noexcept override;
  void interruptWait() noexcept override;

  // Frames the kernel dropped because the socket's receive queue was full (counted per socket:
  // 0 after open). The kernel reports the count with each frame it delivers, and the driver
  // asks for it whenever a read finds the queue empty, so every drop shows once the queue has
  // been read empty. Any thread.
  std::uint32_t kernelDrops() const noexcept { return m_kernelDrops.load(std::memory_order_relaxed); }
  // The receive buffer size the kernel granted at the last open, in bytes (0 before).
  int receiveBufferBytes() const noexcept { return m_rcvBufBytes.load(std::memory_order_relaxed); }
  const std::string& interfaceName() const noexcept { return m_name; }
  bool isOpen() const noexcept { return m_fd.load(std::memory_order_acquire) >= 0; }

  // The receive buffer asked for: two seconds of a saturated 1 Mbit/s bus with the kernel's
  // per-frame overhead, with room to spare.
  static constexpr int kWantedReceiveBuffer = 32 * 1024 * 1024;

 private:
  struct Use {
    int fd;               // -1: closed (and already left)
    std::uint32_t epoch;  // the counter it registered in
  };
  // Registers a user of the descriptor and returns it; pair with leave() when fd >= 0.
  Use enter() noexcept;
  void leave(const Use& use) noexcept;
  std::uint32_t configureBitRate(std::uint32_t bitsPerSecond);

  const std::string m_name;
  const int m_wakeFd;                 // an eventfd, -1 when none could be made (readers then poll)
  std::atomic<int> m_fd{-1};          // written by open/close (window thread)
  std::atomic<std::uint32_t> m_epoch{0};  // written by close (window thread): one step per close
  std::atomic<int> m_users[2] = {0, 0};   // read/write calls in progress, by epoch parity; each
                                          // call adds and removes 1 in its own epoch's counter
  std::atomic<std::uint32_t> m_kernelDrops{0};  // written by read (reader thread); reset by open
                                                // while no socket is published
  std::atomic<int> m_rcvBufBytes{0};  // written by open (window thread)
};

}  // namespace bp::can
