// The Bus view's plot: lines following the data, pause and zoom, the CSV export.
#include "app/PlotPanel.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/Messages.h"
#include "app/Widgets.h"

namespace bp::test {
namespace {

// The points of every line, "name: y y y".
QStringList lines(app::PlotPanel& panel) {
  QStringList out;
  for (QAbstractSeries* s : panel.chPlot->chart()->series()) {
    QString text = s->name() + ":";
    for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) text += " " + QString::number(p.y());
    out << text;
  }
  return out;
}

TEST(PlotPanel, LinesFollowTheDataWithinItsBounds) {
  busview::PlotData data(4);
  const int speed = data.addSeries("speed");
  const int torque = data.addSeries("torque");
  for (int i = 0; i < 6; ++i) data.add(speed, i, 10 + i);
  data.add(torque, 0, 7);
  app::PlotPanel panel;
  panel.setData(&data);
  EXPECT_EQ(lines(panel), (QStringList{"speed: 12 13 14 15", "torque: 7"}));

  data.add(speed, 6, 16);
  data.add(torque, 1, 8);
  panel.refresh();
  EXPECT_EQ(lines(panel), (QStringList{"speed: 13 14 15 16", "torque: 7 8"}));

  data.removeSeries(speed);
  data.add(data.addSeries("current"), 2, 1);
  panel.refresh();
  EXPECT_EQ(lines(panel), (QStringList{"torque: 7 8", "current: 1"}));
}

TEST(PlotPanel, PauseAndZoomHoldTheChartUntilReleased) {
  busview::PlotData data;
  const int v = data.addSeries("v");
  data.add(v, 0, 1);
  data.add(v, 10, 2);
  app::PlotPanel panel;
  panel.resize(600, 400);
  panel.show();  // laid out: zooming needs the plot area
  panel.setData(&data);
  auto* time = static_cast<QValueAxis*>(panel.chPlot->chart()->axes(Qt::Horizontal).at(0));
  EXPECT_GE(time->max(), 10);

  panel.btnPlotPause->click();
  data.add(v, 20, 3);
  panel.refresh();
  EXPECT_EQ(lines(panel), QStringList{"v: 1 2"});
  panel.btnPlotPause->click();  // released: the chart catches up at once
  EXPECT_EQ(lines(panel), QStringList{"v: 1 2 3"});
  EXPECT_GE(time->max(), 20);

  panel.chPlot->chart()->zoomIn();
  const double zoomedMax = time->max();
  ASSERT_LT(zoomedMax, 20);
  data.add(v, 40, 4);
  panel.refresh();  // the line grows, the axes stay where the user put them
  EXPECT_EQ(lines(panel), QStringList{"v: 1 2 3 4"});
  EXPECT_EQ(time->max(), zoomedMax);
  panel.btnPlotWhole->click();
  EXPECT_GE(time->max(), 40);
  EXPECT_LE(time->min(), 0);
}

TEST(PlotPanel, ExportWritesTheDataAsCsvOrShowsWhyNot) {
  busview::PlotData data;
  data.add(data.addSeries("v"), 0.5, 1.25);
  app::PlotPanel panel;
  panel.setData(&data);
  QTemporaryDir dir;
  QString path = dir.filePath(QStringLiteral("plot.csv"));
  panel.chooseCsvFile = [&] { return path; };
  panel.btnPlotCsv->click();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().toStdString(), data.csvText(app::localeDecimalSeparator()));

  QStringList shown;
  app::setMessageSink([&](app::MessageKind, const QString&, const QString& text) { shown << text; });
  path = dir.filePath(QStringLiteral("missing/plot.csv"));
  panel.btnPlotCsv->click();
  app::resetMessageSink();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("Cannot create file \"")) << shown[0].toStdString();
}

}  // namespace
}  // namespace bp::test
