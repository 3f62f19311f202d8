// The main window on a SocketCanDriver for vcan0, offscreen, in a fresh temporary working
// directory that holds the sample EDS file (so the tree is filled at start-up) and no list file.
// Message boxes are captured in `messages`.
#pragma once
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "app/frmInput1.h"
#include "can/drivers/SocketCanDriver.h"
#include "socketcan/BusTools.h"

namespace bp::test {

struct ShownMessage {
  app::MessageKind kind;
  QString caption;
  QString text;
};

class VcanWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_oldDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    ASSERT_TRUE(QFile::copy(QStringLiteral(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds"),
                            m_dir.filePath(QStringLiteral("drv17-ka.eds"))));
    QSettings(QStringLiteral("Travik"), QStringLiteral("Busprobe")).clear();
    app::setMessageSink([this](app::MessageKind kind, const QString& caption, const QString& text) {
      messages.push_back({kind, caption, text});
    });
  }
  void TearDown() override {
    input.reset();
    window.reset();
    app::resetMessageSink();
    QDir::setCurrent(m_oldDir);
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

  // The object node of the tree whose caption starts with `prefix` ("0x1000 "), or nullptr.
  QTreeWidgetItem* treeNode(const QString& prefix) const {
    for (int c = 0; c < window->tvSDO->topLevelItemCount(); ++c) {
      QTreeWidgetItem* category = window->tvSDO->topLevelItem(c);
      for (int o = 0; o < category->childCount(); ++o)
        if (category->child(o)->text(0).startsWith(prefix)) return category->child(o);
    }
    return nullptr;
  }
  // Selects the node and presses the key (R, A or W) on the tree; the node's caption after it.
  QString pressOnNode(const QString& prefix, char16_t key) {
    QTreeWidgetItem* node = treeNode(prefix);
    if (node == nullptr) {
      ADD_FAILURE() << "no tree node " << prefix.toStdString();
      return {};
    }
    window->tvSDO->setCurrentItem(node);
    window->tvSDOKeyPress(QChar(key));
    return node->text(0);
  }

  std::unique_ptr<app::TfrmBPX> window;
  std::unique_ptr<app::TfrmInput> input;
  std::vector<ShownMessage> messages;         // shown since start-up finished
  std::vector<ShownMessage> startupMessages;  // shown during start-up

 private:
  QTemporaryDir m_dir;
  QString m_oldDir;
};

// For failure messages: the rows, one per line.
inline std::string rowsText(const std::vector<QStringList>& rows) {
  std::string s;
  for (const QStringList& r : rows) s += r.join(QStringLiteral(" | ")).toStdString() + "\n";
  return s;
}

}  // namespace bp::test
