#pragma once
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "app/frmInput1.h"
#include "channel/Channel.h"
#include "sim/SimNode.h"
#include "support/FakeDriver.h"
#include "support/Wait.h"

namespace bp::test {

// The first object node (under any category) whose caption starts with `prefix`.
inline QTreeWidgetItem* findNode(QTreeWidget* tree, const QString& prefix) {
  for (int c = 0; c < tree->topLevelItemCount(); ++c)
    for (int o = 0; o < tree->topLevelItem(c)->childCount(); ++o)
      if (tree->topLevelItem(c)->child(o)->text(0).startsWith(prefix)) return tree->topLevelItem(c)->child(o);
  return nullptr;
}

// Runs the window thread's events until `done` holds (at most 5 s); true when it held.
template <class Pred>
bool eventually(Pred&& done) {
  return waitUntil([&] {
    QTest::qWait(10);
    return done();
  }, std::chrono::milliseconds(5000), std::chrono::microseconds(0));
}

struct ShownMessage {
  app::MessageKind kind;
  QString caption;
  QString text;
};

// A window on a FakeDriver, in a fresh temporary working directory with no settings. Message boxes
// are captured in `messages`.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_oldDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
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

  // Creates the window (runs the start-up sequence) on a fake driver prepared by `prepare`.
  // A window already open is closed first (its shut-down runs).
  app::TfrmBPX& open(std::function<void(FakeDriver&)> prepare = {}) {
    input.reset();
    window.reset();
    auto fake = std::make_unique<FakeDriver>();
    driver = fake.get();
    if (prepare) prepare(*fake);
    window = std::make_unique<app::TfrmBPX>(std::move(fake));
    input = std::make_unique<app::TfrmInput>(window.get());
    window->setInputDialog(input.get());
    startupMessages = std::move(messages);
    messages.clear();
    return *window;
  }

  QString path(const QString& name) const { return m_dir.filePath(name); }

  // The window on the demo bus, shown, with the sample EDS and the node booted; `run` gets the
  // window and the simulated node.
  void withDemoWindow(const std::function<void(app::TfrmBPX&, sim::SimNode&)>& run) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds"), path("drv17-ka.eds")));
    channel::Options options;
    options.demo = true;
    channel::Channel channel = channel::openChannel(options);
    {
      app::TfrmBPX w(std::move(channel.driver));
      app::TfrmInput dialog(&w);
      w.setInputDialog(&dialog);
      w.show();
      channel.startPeer();
      run(w, *channel.demoNode);
    }
    channel.stopPeer();
  }

  std::unique_ptr<app::TfrmBPX> window;
  std::unique_ptr<app::TfrmInput> input;
  FakeDriver* driver = nullptr;
  std::vector<ShownMessage> messages;         // shown since start-up finished
  std::vector<ShownMessage> startupMessages;  // shown during start-up

 private:
  QTemporaryDir m_dir;
  QString m_oldDir;
};

}  // namespace bp::test
