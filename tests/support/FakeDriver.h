#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "can/CanDriver.h"

namespace bp::test {

// A driver for tests: records every write and every open/close, delivers queued frames to read,
// and returns the results the test sets. Thread-safe. onWrite, when set, runs inside write (on the
// writer's thread) and may queue answers with push().
class FakeDriver final : public can::CanDriver {
 public:
  std::uint32_t open(std::uint16_t code, std::uint32_t frameType) override;
  std::uint32_t close() override;
  std::uint32_t read(can::CanFrame& frame) noexcept override;
  std::uint32_t versionText(char* buffer) override;
  std::uint32_t write(const can::CanFrame& frame) override;

  void push(const can::CanFrame& frame);  // queue a frame for read
  std::vector<can::CanFrame> written();   // copy of the frames written so far
  void clearWritten();
  std::size_t queued();

  // Results to return (0 = success).
  std::uint32_t openResult = 0;
  std::uint32_t writeResult = 0;
  std::uint32_t versionResult = 0;
  const char* version = "Fake driver 1.0";
  std::function<void(const can::CanFrame&)> onWrite;

  // Counters.
  int openCalls = 0, closeCalls = 0, readCalls = 0;
  std::vector<std::uint16_t> openCodes;

 private:
  std::mutex m_mutex;
  std::deque<can::CanFrame> m_rx;
  std::vector<can::CanFrame> m_written;
};

}  // namespace bp::test
