#pragma once
#include <QAbstractTableModel>

#include "busview/BusView.h"
#include "busview/TraceRows.h"

namespace bp::app {

// The trace list's model: the rows of the Bus view's history that pass the filter, read on
// demand (a million rows cost nothing until they are shown). refresh() tells the view what came
// and went since the last call.
class TraceModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kDirection, kId, kLength, kData, kMeaning, kColumnCount };

  explicit TraceModel(const busview::BusView& view, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Takes in the frames the history gained and lost; true when rows changed.
  bool refresh();
  // Shows only the frames that pass `filter` (all rows anew).
  void setFilter(const busview::TraceFilter& filter);
  // The history was cleared: no rows.
  void reset();

  // The text of one cell, as the list shows it.
  QString cellText(int row, int column) const;

 private:
  void shiftRows(int by, int rows);

  const busview::BusView& m_view;
  busview::TraceRows m_rows;
};

}  // namespace bp::app
