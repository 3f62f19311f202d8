// The busprobe program ends in order on SIGTERM, whatever it is doing, and keeps the user's list.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "sim/DemoEds.h"

namespace bp::test {
namespace {

#ifndef _WIN32
QByteArray readFile(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeFile(const QString& name, QByteArrayView bytes) {
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes.data(), bytes.size());
}

struct TerminationRow {
  const char* what;
  const char* listFile;   // SDOList.bin before the start (nullptr: none)
  const char* readyFile;  // exists once the program is where the signal is to arrive
};

TEST(Termination, SigtermEndsTheProgramInOrderWithTheListSaved) {
  const TerminationRow rows[] = {
      {"the start-up box about an unreadable list open", "unreadable", "SDOList.bin.bak"},
      {"running without list file", nullptr, "config/Travik/Busprobe.conf"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("drv17-ka.eds"), QByteArrayView(sim::demoEdsText()));
    if (row.listFile != nullptr) writeFile(dir.filePath("SDOList.bin"), row.listFile);

    QProcess busprobe;
    busprobe.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath("config"));
    busprobe.setProcessEnvironment(env);
    busprobe.start(QStringLiteral(BUSPROBE_PROGRAM), {QStringLiteral("--demo")});
    QDeadlineTimer ready(10000);
    while (!QFile::exists(dir.filePath(row.readyFile)) && !ready.hasExpired()) QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(dir.filePath(row.readyFile)));

    busprobe.terminate();  // SIGTERM
    ASSERT_TRUE(busprobe.waitForFinished(3000)) << "still running 3 s after SIGTERM";
    EXPECT_EQ(busprobe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(readFile(dir.filePath("SDOList.bin")), QByteArray());  // the (empty) list, saved
    if (row.listFile != nullptr) {
      EXPECT_EQ(readFile(dir.filePath("SDOList.bin.bak")), row.listFile);
    }
  }
}
#endif

}  // namespace
}  // namespace bp::test
