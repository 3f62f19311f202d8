#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "can/CanFrame.h"
#include "sdo/SdoClient.h"
#include "sdo/SdoProtocol.h"
#include "util/Error.h"

namespace bp::sdo {

// The node did not answer in time (an abort is an answer: it throws bp::Error).
class TimeoutError : public Error {
 public:
  using Error::Error;
};

// How a general transfer runs.
struct TransferOptions {
  static constexpr std::size_t kMaxFileSize = 16u << 20;  // 16 MiB

  std::uint32_t timeoutMs = 1000;   // per answer of the node; R/A/W use SdoClient::kTimeoutMs
  bool block = true;                // block transfer with CRC, segmented when the node refuses it
  std::uint8_t blockSize = proto::kMaxBlockSize;  // segments a sub-block of a block upload
  std::uint8_t protocolSwitch = 0;  // block upload: the node may answer a normal upload up to
                                    // this many bytes (0: no threshold)
  std::size_t maxSize = kMaxFileSize;  // a larger upload is aborted (0x05040005)
  // Called on the transfer's thread after every segment or sub-block: bytes done and the total,
  // 0 while unknown. Must not throw.
  std::function<void(std::size_t done, std::size_t total)> progress;
  // Set by any thread to cancel: the transfer sends abort 0x08000000 and fails.
  const std::atomic<bool>* cancel = nullptr;
  // Runs on the window thread (E): every pass of the wait does the client's busy work (empties
  // the receive ring), as R/A/W do.
  bool windowThread = false;
  // Named in the time-out message as R/A/W name it ("SDO Transfer timeout\n<name>\n<index>
  // subindex <sub>"); without a name the line is left out.
  std::string objectName;
};

// A transfer of any size to or from one object of the selected node, on the calling thread (the
// window thread for E, a worker for files: see TransferJob). Expedited (up to 4 bytes) or
// segmented; block transfer when options.block is set. It holds the client's claim while it runs:
// R/A/W are refused then, and the node's answers reach it through the client's frame queue. Every
// failure throws bp::Error with its message, after the abort frame of what the client gives up.
class SdoTransfer {
 public:
  SdoTransfer(SdoClient& client, TransferOptions options) : m_client(client), m_options(std::move(options)) {}

  // The claim was taken by TransferJob on the window thread; this transfer releases it. Without
  // it, upload and download claim the client themselves, which only the window thread may do.
  void adoptClaim() noexcept { m_claimAdopted = true; }
  // A sequence of transfers on one claim: the claim (adopted, or taken by the first transfer) stays
  // with this object through every upload and download and is released when it goes, so no R/A/W
  // comes between two of them.
  void holdClaim() noexcept { m_holdClaim = true; }
  ~SdoTransfer();
  SdoTransfer(const SdoTransfer&) = delete;
  SdoTransfer& operator=(const SdoTransfer&) = delete;

  std::string upload(std::uint16_t index, std::uint8_t subIndex);
  void download(std::uint16_t index, std::uint8_t subIndex, std::string_view bytes);

 private:
  using Bytes = std::array<std::uint8_t, 8>;
  class Claim;

  // One conversation (SdoTransfer.cpp).
  std::string segmentedUpload();
  void segmentedDownload(std::string_view bytes);
  std::string uploadSegments(std::string data, std::size_t total);
  bool readInitiateAnswer(const can::CanFrame& f, std::string& data, std::size_t& total);
  // Block transfer (SdoBlockTransfer.cpp). False when the node refused it: go segmented.
  bool blockUpload(std::string& out);
  bool blockDownload(std::string_view bytes);
  void receiveSubBlocks(std::string& data, std::size_t total);
  std::size_t sendSubBlock(std::string_view bytes, std::size_t at, std::uint8_t blockSize);
  std::uint8_t checkedBlockSize(std::uint8_t size);

  // Primitives.
  Bytes request(std::uint8_t command) const noexcept;  // with the multiplexer
  void send(const Bytes& data);
  can::CanFrame awaitFrame();  // the next answer; aborts and throws on time-out or cancel
  can::CanFrame await();       // the same, and throws the node's abort
  can::CanFrame awaitAnswer(std::uint8_t scs);  // the same, and it must carry this scs
  bool isOurs(const can::CanFrame& f) const noexcept;
  bool isAbort(const can::CanFrame& f) const noexcept;
  bool acceptBlockInitiate(const can::CanFrame& f, std::uint8_t scs);
  [[noreturn]] void giveUp(std::uint32_t code, const std::string& message);
  void sendAbort(std::uint32_t code);
  void checkSize(std::size_t size);
  void report(std::size_t done, std::size_t total) const;

  SdoClient& m_client;
  TransferOptions m_options;
  bool m_claimAdopted = false;
  bool m_holdClaim = false;
  std::uint16_t m_index = 0;
  std::uint8_t m_subIndex = 0;
};

// E on the window thread: writes `bytes` (a value of the entry's type, od::typedBytes) to the
// entry's object, expedited up to 4 bytes, else segmented, with R/A/W's 250 ms per answer and the
// entry's name in a time-out's message. Throws bp::Error as SdoTransfer does.
void writeEntry(SdoClient& client, const od::ObjectEntry& entry, std::string_view bytes);

}  // namespace bp::sdo
