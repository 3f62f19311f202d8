// The window on the kernel's vcan0: an offscreen application, settings in a temporary folder.
// Where there is no vcan0 the tests are skipped as a whole (exit code 77, which the test runner
// counts as skipped).
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
  std::error_code ec;
  if (!std::filesystem::exists("/sys/class/net/vcan0", ec)) {
    std::printf("vcan0 not present: SocketCAN tests skipped\n");
    return 77;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
