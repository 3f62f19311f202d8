#include "app/PlotPanel.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "app/Messages.h"
#include "app/Widgets.h"

namespace bp::app {

namespace {

// A chart view whose wheel zooms in (away from the user) or out, keeping the point under the mouse.
class WheelZoomChartView : public QChartView {
 public:
  using QChartView::QChartView;

 protected:
  void wheelEvent(QWheelEvent* event) override {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
      QChartView::wheelEvent(event);
      return;
    }
    const double factor = delta > 0 ? 1.25 : 0.8;
    const QRectF area = chart()->plotArea();
    const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    chart()->zoomIn(QRectF(at.x() - (at.x() - area.left()) / factor, at.y() - (at.y() - area.top()) / factor,
                           area.width() / factor, area.height() / factor));
    event->accept();
  }
};

QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

// [low, high] widened to a visible span: by 5 % each side, or by 1 around a single value.
std::pair<double, double> padded(double low, double high) {
  if (!(high > low)) return {low - 1, high + 1};
  const double margin = (high - low) * 0.05;
  return {low - margin, high + margin};
}

// About eight grid lines a span: the step 1, 2 or 5 times a power of ten nearest span / 8.
double roundStep(double span) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / 8;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double n = raw / magnitude;
  return (n < 1.5 ? 1 : n < 3.5 ? 2 : n < 7.5 ? 5 : 10) * magnitude;
}

// Grid lines at round numbers for whatever range the axis comes to show (fitted or zoomed).
void useRoundTicks(QValueAxis* axis) {
  axis->setLabelFormat(QStringLiteral("%g"));
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  // On minChanged and maxChanged: setRange sends them before the chart lays the axis out for the
  // new range (rangeChanged comes after), and a step left from a narrow range would make a label
  // for each of its ticks over a wide one.
  const auto fit = [axis] { axis->setTickInterval(roundStep(axis->max() - axis->min())); };
  QObject::connect(axis, &QValueAxis::minChanged, axis, fit);
  QObject::connect(axis, &QValueAxis::maxChanged, axis, fit);
}

}  // namespace

PlotPanel::PlotPanel(QWidget* parent)
    : QWidget(parent), m_chart(new QChart), m_timeAxis(new QValueAxis), m_valueAxis(new QValueAxis) {
  setObjectName(QStringLiteral("pnlPlot"));
  m_timeAxis->setTitleText(QStringLiteral("Time (s)"));
  useRoundTicks(m_timeAxis);
  useRoundTicks(m_valueAxis);
  m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
  m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
  m_chart->legend()->setAlignment(Qt::AlignTop);

  chPlot = new WheelZoomChartView(m_chart, this);  // owns the chart; a right click zooms out
  chPlot->setObjectName(QStringLiteral("chPlot"));
  chPlot->setRubberBand(QChartView::RectangleRubberBand);
  btnPlotPause = makeButton(QStringLiteral("Pause"), "btnPlotPause", this);
  btnPlotPause->setCheckable(true);
  btnPlotWhole = makeButton(QStringLiteral("Whole range"), "btnPlotWhole", this);
  btnPlotCsv = makeButton(QStringLiteral("Export CSV…"), "btnPlotCsv", this);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btnPlotPause, btnPlotWhole, btnPlotCsv}) buttons->addWidget(b);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(chPlot, 1);
  layout->addLayout(buttons);

  connect(btnPlotPause, &QPushButton::toggled, this, [this](bool paused) {
    if (!paused) refresh();
  });
  connect(btnPlotWhole, &QPushButton::clicked, this, &PlotPanel::showWholeRange);
  connect(btnPlotCsv, &QPushButton::clicked, this, &PlotPanel::exportCsv);
  chooseCsvFile = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QString(),
                                        QStringLiteral("CSV files (*.csv)"));
  };
  fitAxes();
}

void PlotPanel::setData(const busview::PlotData* data) {
  m_data = data;
  reset();
}

void PlotPanel::refresh() {
  if (!btnPlotPause->isChecked()) bringUpToDate();
}

void PlotPanel::reset() {
  removeLines();
  m_chart->zoomReset();
  bringUpToDate();
  fitAxes();
}

void PlotPanel::bringUpToDate() {
  if (!m_data) return;
  bool changed = matchSeries();
  for (auto& [number, line] : m_lines) changed = takeNewSamples(number, line) || changed;
  if (changed && !m_chart->isZoomed()) fitAxes();
}

// One line for each series of the data: lines of removed series go, new series get theirs.
bool PlotPanel::matchSeries() {
  bool changed = false;
  for (auto it = m_lines.begin(); it != m_lines.end();) {
    if (m_data->contains(it->first)) {
      ++it;
      continue;
    }
    m_chart->removeSeries(it->second.series);
    delete it->second.series;
    it = m_lines.erase(it);
    changed = true;
  }
  if (m_lines.size() == m_data->seriesCount()) return changed;
  for (int number : m_data->series())
    if (!m_lines.contains(number)) addLine(number);
  return true;
}

void PlotPanel::addLine(int number) {
  auto* series = new QLineSeries;
  series->setName(textFromBytes(m_data->name(number)));
  m_chart->addSeries(series);  // owns it
  series->attachAxis(m_timeAxis);
  series->attachAxis(m_valueAxis);
  m_lines.emplace(number, Line{series, 0});
}

void PlotPanel::removeLines() {
  for (auto& [number, line] : m_lines) {
    m_chart->removeSeries(line.series);
    delete line.series;
  }
  m_lines.clear();
}

// Draws the line anew from the data when it has new samples, in one replace (appending redraws
// the line once a point). A long series is thinned for the screen to the lowest and highest sample
// of each of kShownBuckets runs, in time order, so its peaks stay and the line costs the same at
// 2,000 or 200,000 samples. False when nothing was new.
bool PlotPanel::takeNewSamples(int number, Line& line) {
  const std::uint64_t added = m_data->added(number);
  if (added == line.shown) return false;
  line.shown = added;
  const busview::PlotData::Samples& samples = m_data->samples(number);
  const std::size_t n = samples.size();
  QList<QPointF> points;
  if (n <= 2 * kShownBuckets) {
    points.reserve(static_cast<qsizetype>(n));
    for (const busview::PlotSample& s : samples) points.append(QPointF(s.timeS, s.value));
  } else {
    points.reserve(static_cast<qsizetype>(2 * kShownBuckets));
    for (std::size_t b = 0; b < kShownBuckets; ++b) {
      const std::size_t from = b * n / kShownBuckets, to = (b + 1) * n / kShownBuckets;
      std::size_t low = from, high = from;
      for (std::size_t i = from; i < to; ++i) {
        if (samples[i].value < samples[low].value) low = i;
        if (samples[i].value > samples[high].value) high = i;
      }
      for (const std::size_t i : {std::min(low, high), std::max(low, high)})
        points.append(QPointF(samples[i].timeS, samples[i].value));
    }
  }
  line.series->replace(points);
  return true;
}

// Both axes around every point shown; 0 to 1 when there is none.
void PlotPanel::fitAxes() {
  constexpr double inf = std::numeric_limits<double>::infinity();
  double t0 = inf, t1 = -inf, v0 = inf, v1 = -inf;
  for (const auto& [number, line] : m_lines) {
    for (const QPointF& p : line.series->points()) {
      if (!std::isfinite(p.x()) || !std::isfinite(p.y())) continue;
      t0 = std::min(t0, p.x());
      t1 = std::max(t1, p.x());
      v0 = std::min(v0, p.y());
      v1 = std::max(v1, p.y());
    }
  }
  if (t0 > t1) {
    m_timeAxis->setRange(0, 1);
    m_valueAxis->setRange(0, 1);
    return;
  }
  m_timeAxis->setRange(t0, t1 > t0 ? t1 : t0 + 1);
  const auto [low, high] = padded(v0, v1);
  m_valueAxis->setRange(low, high);
}

void PlotPanel::showWholeRange() {
  m_chart->zoomReset();
  fitAxes();
}

void PlotPanel::exportCsv() {
  if (!m_data) return;
  const QString path = chooseCsvFile();
  if (path.isEmpty()) return;
  guarded(MessageKind::Error, [&] { m_data->writeCsv(path.toUtf8().toStdString(), localeDecimalSeparator()); });
}

}  // namespace bp::app
