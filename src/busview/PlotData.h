#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace bp::busview {

// One point of a plotted series: seconds on the plot's time axis and the value then.
struct PlotSample {
  double timeS;
  double value;
};

// The Bus view's plotted values: named series of samples, each holding its last `capacity`
// samples (when full the oldest goes). Window thread only.
//
// A series keeps its number while it lives; numbers are never given again, so a number held
// elsewhere (a poll entry, a PDO value) never lands in another series. Every series counts the
// samples added to it since it was made (clear() does not reset the count), so a reader that
// remembers the count it has drawn knows when there is something new.
class PlotData {
 public:
  static constexpr std::size_t kDefaultCapacity = 200'000;
  using Samples = std::deque<PlotSample>;

  explicit PlotData(std::size_t capacity = kDefaultCapacity);  // capacity at least 1

  // The number of the series named `name`: a new series, or the one of that name already there.
  int addSeries(std::string name);
  void removeSeries(int series);  // nothing when there is no such series
  // Adds a sample; a NaN value, or a series that is not (any more) there, adds nothing.
  void add(int series, double timeS, double value);
  void clear();  // every series loses its samples; the series and their counts stay

  bool contains(int series) const noexcept;
  std::size_t seriesCount() const noexcept;
  std::vector<int> series() const;  // the numbers of the series there, oldest series first
  std::size_t capacity() const noexcept { return m_capacity; }

  // The accessors throw std::out_of_range for a series that is not there.
  const std::string& name(int series) const;
  const Samples& samples(int series) const;  // oldest first
  std::uint64_t added(int series) const;     // samples added since the series was made

  // Every sample as CSV text in long form: the header "time_s,series,value", then one line a sample
  // sorted by time (samples at the same time in series order), numbers in the shortest text that
  // reads back to the same double. With a decimal separator other than '.', numbers use it and
  // fields are separated by ';'. A name holding the field separator, a quote or a line break is
  // quoted, its quotes doubled.
  std::string csvText(char decimalSeparator) const;
  // Writes csvText to `path` (replacing a file there). Throws bp::Error
  // "Cannot create file "<path>". <reason>".
  void writeCsv(const std::string& path, char decimalSeparator) const;

 private:
  struct Series {
    std::string name;
    Samples samples;
    std::uint64_t added = 0;
  };
  const Series& at(int series) const;

  std::size_t m_capacity;
  std::vector<std::optional<Series>> m_series;  // index = series number; empty once removed
};

}  // namespace bp::busview
