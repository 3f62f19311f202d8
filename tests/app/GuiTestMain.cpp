// Entry of the window tests: an offscreen application, settings and files in a temporary folder.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
