#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "can/CanDriver.h"
#include "engine/FrameMonitor.h"
#include "engine/HighRateReader.h"
#include "engine/PeriodicTimer.h"
#include "engine/RxRing.h"
#include "engine/TappedDriver.h"
#include "od/ObjectDictionary.h"
#include "sdo/SdoClient.h"
#include "sdo/TransferJob.h"
#include "usersdo/UserSdoList.h"
#include "util/Clock.h"

namespace bp::engine {

// Everything the main window owns for the whole run, without Qt. Members are declared in the
// order they must be built; they are destroyed in reverse, so the periodic timer (the reader's
// thread) is stopped before anything the reader touches goes away.
struct Session {
  explicit Session(std::unique_ptr<can::CanDriver> drv, Clock& clk = SteadyClock::instance())
      : driver(std::move(drv)), sender(*driver), clock(clk), reader(*driver, ring, clk), sdo(sender, nodeId, clk) {
    reader.setHandOver(&sdo);
    monitor.setSentFrames(&sender);
    // While a transfer waits, the window thread keeps emptying the ring into the monitor rows:
    // the reader then never pauses on a full ring, and an answer queued in the driver behind
    // other traffic reaches the SDO client at once.
    sdo.setBusyWork([this] { monitor.drain(ring); });
  }

  // Starts the reader's thread. It runs as soon as the driver has frames and sleeps otherwise
  // (on Windows: every tick of the multimedia timer); when it stopped at a full ring it tries
  // again after timerResolution ms. False when it was already running.
  bool startReader() {
    return timer.startOnFrames(*driver, [this] { return reader.runScheduled(timerResolution); });
  }
  // Stops the reader's thread (joins it); afterwards no run is in progress or begins.
  void stopReader() { timer.stop(); }

  // Window thread. The Bus view's tap: `observer` sees every frame the monitor takes, the selected
  // node's SDO answers and the frames the tool writes through `sender`, in time order (see
  // FrameMonitor::drain), on every drain. Empty: off, and the receive path is as without it.
  void observeFrames(FrameObserver observer) {
    const bool on = static_cast<bool>(observer);
    reader.setObserving(on);
    sender.setTapping(on);
    monitor.setObserver(std::move(observer));
  }

  std::unique_ptr<can::CanDriver> driver;  // the adapter: the reader reads it; open, close, version
  // What the tool's frames are written to (SDO client, NMT, SYNC, guarding, RxPDO): the adapter,
  // tapped for the Bus view while observeFrames has an observer set.
  engine::TappedDriver sender;
  Clock& clock;
  std::atomic<std::int32_t> nodeId{5};  // written by the window thread only (cbNodeIDChange)
  bool busOpen = false;                 // window thread only
  std::uint32_t timerResolution = engine::PeriodicTimer::kMinPeriodMs;
  od::ObjectDictionary dictionary;
  engine::FrameMonitor monitor;
  usersdo::UserSdoList userList;
  engine::RxRing ring;
  engine::HighRateReader reader;
  sdo::SdoClient sdo;
  sdo::TransferJob fileJob{sdo};  // U and D: one file transfer at a time, on its own thread
  engine::PeriodicTimer timer;  // runs the reader; last, so it stops first
};

}  // namespace bp::engine
