#pragma once
#include <QChartView>
#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>

#include "busview/PlotData.h"

namespace bp::app {

// The Bus view's plot: one line a PlotData series over time. The rubber band zooms in, the wheel
// zooms about the mouse, a right click zooms out, "Whole range" shows all data again. While the
// plot is zoomed the axes stay where the user put them; while paused the chart stands still and the
// PlotData goes on collecting. "Export CSV…" writes every sample of the PlotData to a file.
class PlotPanel : public QWidget {
  Q_OBJECT
 public:
  explicit PlotPanel(QWidget* parent = nullptr);

  // The plotted data, not owned; nullptr plots nothing. Rebuilds the chart.
  void setData(const busview::PlotData* data);
  // Brings the chart up to the data: the samples new since the last refresh, the series added or
  // removed; nothing while paused. Cheap when nothing changed.
  void refresh();
  // Rebuilds every line from the data (after PlotData::clear, a new log) and shows the whole range.
  void reset();

  // Seam for tests: the file "Export CSV…" writes; empty when the user cancelled.
  std::function<QString()> chooseCsvFile;

  // ---- controls (objectName = member name) ----
  QChartView* chPlot;
  QPushButton* btnPlotPause;  // checkable
  QPushButton* btnPlotWhole;
  QPushButton* btnPlotCsv;

 private:
  static constexpr std::size_t kShownBuckets = 2000;  // a long line is drawn as 2 points each
  struct Line {
    QLineSeries* series;
    std::uint64_t shown;  // the data's count of samples added when this line last took them
  };

  void bringUpToDate();
  void removeLines();
  bool matchSeries();
  void addLine(int number);
  bool takeNewSamples(int number, Line& line);
  void fitAxes();
  void showWholeRange();
  void exportCsv();

  const busview::PlotData* m_data = nullptr;
  QChart* m_chart;
  QValueAxis* m_timeAxis;
  QValueAxis* m_valueAxis;
  std::map<int, Line> m_lines;  // by PlotData series number
};

}  // namespace bp::app
