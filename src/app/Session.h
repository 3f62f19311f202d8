#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "can/CanDriver.h"
#include "can/FrameMonitor.h"
#include "can/HighRateReader.h"
#include "can/PeriodicTimer.h"
#include "can/RxRing.h"
#include "od/ObjectDictionary.h"
#include "sdo/SdoClient.h"
#include "usersdo/UserSdoList.h"
#include "util/Clock.h"

namespace bp::app {

// Everything the main window owns for the whole run, without Qt. Members are declared in the
// order they must be built; they are destroyed in reverse, so the periodic timer (the reader's
// thread) is stopped before anything the reader touches goes away.
struct Session {
  explicit Session(std::unique_ptr<can::CanDriver> drv, Clock& clk = SteadyClock::instance())
      : driver(std::move(drv)), clock(clk), reader(*driver, ring, nodeId, clk), sdo(*driver, nodeId, clk) {
    reader.setSdoSink(&sdo);
  }

  // Starts the reader's thread: every timerResolution ms, and at once when the driver signals
  // received frames. False when it was already running.
  bool startReader() {
    driver->setReceiveNotifier([this] { timer.wake(); });
    return timer.start(timerResolution, [this] { reader.runOnce(); });
  }
  // Stops the reader's thread (joins it); afterwards no run is in progress or begins.
  void stopReader() {
    timer.stop();
    driver->setReceiveNotifier(nullptr);
  }

  std::unique_ptr<can::CanDriver> driver;
  Clock& clock;
  std::atomic<std::int32_t> nodeId{5};  // written by the window thread only (cbNodeIDChange)
  bool busOpen = false;                 // window thread only
  std::uint32_t timerResolution = can::PeriodicTimer::kMinPeriodMs;
  od::ObjectDictionary dictionary;
  can::FrameMonitor monitor;
  usersdo::UserSdoList userList;
  can::RxRing ring;
  can::HighRateReader reader;
  sdo::SdoClient sdo;
  can::PeriodicTimer timer;  // runs the reader; last, so it stops first
};

}  // namespace bp::app
