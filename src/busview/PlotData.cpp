#include "busview/PlotData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>
#include <stdexcept>

#include "util/FileIo.h"

namespace bp::busview {

PlotData::PlotData(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

int PlotData::addSeries(std::string name) {
  for (std::size_t i = 0; i < m_series.size(); ++i)
    if (m_series[i] && m_series[i]->name == name) return static_cast<int>(i);
  m_series.push_back(Series{std::move(name), {}, 0});
  return static_cast<int>(m_series.size() - 1);
}

void PlotData::removeSeries(int series) {
  if (contains(series)) m_series[static_cast<std::size_t>(series)].reset();
}

void PlotData::add(int series, double timeS, double value) {
  if (std::isnan(value) || !contains(series)) return;
  Series& s = *m_series[static_cast<std::size_t>(series)];
  if (s.samples.size() == m_capacity) s.samples.pop_front();
  s.samples.push_back({timeS, value});
  ++s.added;
}

void PlotData::clear() {
  for (auto& s : m_series)
    if (s) s->samples.clear();
}

bool PlotData::contains(int series) const noexcept {
  return series >= 0 && static_cast<std::size_t>(series) < m_series.size() &&
         m_series[static_cast<std::size_t>(series)].has_value();
}

std::size_t PlotData::seriesCount() const noexcept {
  return static_cast<std::size_t>(
      std::count_if(m_series.begin(), m_series.end(), [](const auto& s) { return s.has_value(); }));
}

std::vector<int> PlotData::series() const {
  std::vector<int> numbers;
  for (std::size_t i = 0; i < m_series.size(); ++i)
    if (m_series[i]) numbers.push_back(static_cast<int>(i));
  return numbers;
}

const PlotData::Series& PlotData::at(int series) const {
  if (!contains(series)) throw std::out_of_range("no plot series " + std::to_string(series));
  return *m_series[static_cast<std::size_t>(series)];
}

const std::string& PlotData::name(int series) const { return at(series).name; }
const PlotData::Samples& PlotData::samples(int series) const { return at(series).samples; }
std::uint64_t PlotData::added(int series) const { return at(series).added; }

namespace {

// The shortest text that reads back to `x`, with `decimalSeparator` for the point.
void appendNumber(std::string& out, double x, char decimalSeparator) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x);
  for (const char* c = buffer; c != end; ++c) out += *c == '.' ? decimalSeparator : *c;
}

void appendField(std::string& out, const std::string& text, char fieldSeparator) {
  if (text.find_first_of(std::string{fieldSeparator, '"', '\n', '\r'}) == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

struct CsvRow {
  double timeS;
  double value;
  const std::string* name;
};

}  // namespace

std::string PlotData::csvText(char decimalSeparator) const {
  const char field = decimalSeparator == '.' ? ',' : ';';
  std::vector<CsvRow> rows;
  for (const auto& s : m_series)
    if (s)
      for (const PlotSample& p : s->samples) rows.push_back({p.timeS, p.value, &s->name});
  std::stable_sort(rows.begin(), rows.end(), [](const CsvRow& x, const CsvRow& y) { return x.timeS < y.timeS; });

  std::string out = std::string("time_s") + field + "series" + field + "value\n";
  out.reserve(out.size() + rows.size() * 32);
  for (const CsvRow& row : rows) {
    appendNumber(out, row.timeS, decimalSeparator);
    out += field;
    appendField(out, *row.name, field);
    out += field;
    appendNumber(out, row.value, decimalSeparator);
    out += '\n';
  }
  return out;
}

void PlotData::writeCsv(const std::string& path, char decimalSeparator) const {
  const std::string text = csvText(decimalSeparator);
  fileio::writeFileReplacing(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace bp::busview
