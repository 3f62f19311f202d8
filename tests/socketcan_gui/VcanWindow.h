// The main window of the window tests (app/WindowFixture.h: offscreen, a fresh temporary working
// directory, message boxes captured in `messages`) on a SocketCanDriver for vcan0, with the sample
// EDS file in that directory so the tree is filled at start-up.
#pragma once
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/WindowFixture.h"
#include "can/drivers/SocketCanDriver.h"
#include "socketcan/BusTools.h"

namespace bp::test {

class VcanWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(QFile::copy(QStringLiteral(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds"), path("drv17-ka.eds")));
  }

  // Creates the window (runs the start-up sequence) on vcan0.
  app::TfrmBPX& open() {
    window = std::make_unique<app::TfrmBPX>(std::make_unique<can::SocketCanDriver>(kVcan));
    input = std::make_unique<app::TfrmInput>(window.get());
    window->setInputDialog(input.get());
    startupMessages = std::move(messages);
    messages.clear();
    return *window;
  }

  // The monitor's rows as the list shows them (sorted), each as its five column texts.
  std::vector<QStringList> rows() const {
    std::vector<QStringList> out;
    for (int r = 0; r < window->lvReceived->topLevelItemCount(); ++r) {
      QStringList texts;
      for (int c = 0; c < 5; ++c) texts << window->lvReceived->topLevelItem(r)->text(c);
      out.push_back(texts);
    }
    return out;
  }
  // The row of an identifier caption ("0x123"), empty when there is none.
  QStringList row(const QString& caption) const {
    for (const QStringList& r : rows())
      if (r[0] == caption) return r;
    return {};
  }

  // Runs the monitor's tick (and the event loop) until `done` holds or `limitMs` passes.
  bool pumpMonitor(const std::function<bool()>& done, int limitMs = 3000) {
    QElapsedTimer t;
    t.start();
    for (;;) {
      window->tiBufferReaderTimer();
      if (done()) return true;
      if (t.elapsed() > limitMs) return false;
      QTest::qWait(5);
    }
  }

  // Selects the object node whose caption starts with `prefix` ("0x1000 ") and presses the key
  // (R, A or W) on the tree; the node's caption after it.
  QString pressOnNode(const QString& prefix, char16_t key) {
    QTreeWidgetItem* node = findNode(window->tvSDO, prefix);
    if (node == nullptr) {
      ADD_FAILURE() << "no tree node " << prefix.toStdString();
      return {};
    }
    window->tvSDO->setCurrentItem(node);
    window->tvSDOKeyPress(QChar(key));
    return node->text(0);
  }
};

// For failure messages: the rows, one per line.
inline std::string rowsText(const std::vector<QStringList>& rows) {
  std::string s;
  for (const QStringList& r : rows) s += r.join(QStringLiteral(" | ")).toStdString() + "\n";
  return s;
}

}  // namespace bp::test
