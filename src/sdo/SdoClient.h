#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

#include "can/CanDriver.h"
#include "can/SdoResponseSink.h"
#include "od/ObjectEntry.h"
#include "util/Clock.h"

namespace bp::sdo {

// The SDO client: one transfer at a time to the selected node over its default SDO channel.
// transferSdo runs on the window thread and blocks it until the transfer is done, aborted, too
// large or timed out; handleSdoResponse runs on the high-rate reader's thread.
class SdoClient final : public can::SdoResponseSink {
 public:
  static constexpr std::uint32_t kTimeoutMs = 250;

  // nodeId: one writer, the window thread; read afresh for every frame sent and tested.
  SdoClient(can::CanDriver& driver, const std::atomic<std::int32_t>& nodeId, Clock& clock) noexcept;

  // Window thread. Uploads (direction 0) or downloads (direction 1) the entry. Returns when the
  // transfer is done; throws bp::Error with the message of the failure otherwise. The entry holds
  // the result when it returns or throws.
  void TransferSdo(od::ObjectEntry& entry);

  // Reader's thread. One response frame of the selected node. Never blocks, allocates or throws.
  void handleSdoResponse(const can::CanFrame& frame) noexcept override;

  // Tests: called on every pass of the busy wait (to step a scripted node or a fake clock).
  void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }

 private:
  struct Impl;
  // defined in SdoClient.cpp
  can::CanDriver& m_driver;
  const std::atomic<std::int32_t>& m_nodeId;
  Clock& m_clock;
  std::function<void()> m_waitHook;
};

}  // namespace bp::sdo
