#include "support/FakeDriver.h"

#include <cstdio>

namespace bp::test {

std::uint32_t FakeDriver::open(std::uint16_t code, std::uint32_t) {
  std::lock_guard lock(m_mutex);
  ++openCalls;
  openCodes.push_back(code);
  return openResult;
}

std::uint32_t FakeDriver::close() {
  std::lock_guard lock(m_mutex);
  ++closeCalls;
  return 0;
}

std::uint32_t FakeDriver::read(can::CanFrame& frame) noexcept {
  std::lock_guard lock(m_mutex);
  ++readCalls;
  if (m_rx.empty()) return can::kErrQueueEmpty;
  frame = m_rx.front();
  m_rx.pop_front();
  return 0;
}

std::uint32_t FakeDriver::versionText(char* buffer) {
  std::snprintf(buffer, can::kVersionTextSize, "%s", version);
  return versionResult;
}

std::uint32_t FakeDriver::write(const can::CanFrame& frame) {
  {
    std::lock_guard lock(m_mutex);
    m_written.push_back(frame);
  }
  if (writeResult != 0) return writeResult;
  if (onWrite) onWrite(frame);
  return 0;
}

void FakeDriver::push(const can::CanFrame& frame) {
  std::lock_guard lock(m_mutex);
  m_rx.push_back(frame);
}

std::vector<can::CanFrame> FakeDriver::written() {
  std::lock_guard lock(m_mutex);
  return m_written;
}

void FakeDriver::clearWritten() {
  std::lock_guard lock(m_mutex);
  m_written.clear();
}

std::size_t FakeDriver::queued() {
  std::lock_guard lock(m_mutex);
  return m_rx.size();
}

}  // namespace bp::test
