#pragma once
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "app/frmInput1.h"
#include "support/FakeDriver.h"

namespace bp::test {

// The first object node (under any category) whose caption starts with `prefix`.
inline QTreeWidgetItem* findNode(QTreeWidget* tree, const QString& prefix) {
  for (int c = 0; c < tree->topLevelItemCount(); ++c)
    for (int o = 0; o < tree->topLevelItem(c)->childCount(); ++o)
      if (tree->topLevelItem(c)->child(o)->text(0).startsWith(prefix)) return tree->topLevelItem(c)->child(o);
  return nullptr;
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
