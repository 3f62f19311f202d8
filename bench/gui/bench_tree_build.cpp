// Load time of an EDS file in the window: bench_tree_build [--runs N] FILE
// Runs the window's load command on FILE N times (at least 5), offscreen, and prints the median
// time of the whole load (clear, read, remember the name, build the tree) and of building the tree
// alone from the dictionary already read, with the tree's node count.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "can/drivers/NoAdapterDriver.h"

namespace {
double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}
int countNodes(QTreeWidget* tree) {
  int n = 0;
  for (int c = 0; c < tree->topLevelItemCount(); ++c) {
    QTreeWidgetItem* category = tree->topLevelItem(c);
    ++n;
    for (int o = 0; o < category->childCount(); ++o) n += 1 + category->child(o)->childCount();
  }
  return n;
}
}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(5, std::atoi(argv[++i]));
    else
      file = argv[i];
  }
  if (file == nullptr) {
    std::fprintf(stderr, "usage: bench_tree_build [--runs N] FILE\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir scratch;  // settings and SDOList.bin go here, not into the user's files
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());
  const QString path = QFileInfo(QString::fromLocal8Bit(file)).absoluteFilePath();
  QDir::setCurrent(scratch.path());
  // The window's start-up loads the remembered file, so it starts on FILE too.
  QSettings(QStringLiteral("Travik"), QStringLiteral("Busprobe")).setValue(QStringLiteral("EDSFileName"), path);
  QApplication app(argc, argv);
  bp::app::setMessageSink([](bp::app::MessageKind, const QString&, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
  });

  bp::app::TfrmBPX window(std::make_unique<bp::can::NoAdapterDriver>());
  std::vector<double> load, build;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer t;
    t.start();
    window.btnEDSLoadClick();
    load.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    window.tvSDO->clear();
    t.restart();
    window.BuildObjectTree();
    build.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  std::printf("%s: %zu records, %d tree nodes; load %.1f ms median, tree build alone %.1f ms median (%d runs)\n",
              file, window.session().dictionary.recordCount(), countNodes(window.tvSDO), medianOf(load),
              medianOf(build), runs);
  return 0;
}
