#include "app/TraceModel.h"

#include <algorithm>
#include <array>

#include "od/ValueText.h"

namespace bp::app {
namespace {

QString directionText(busview::Direction d) {
  switch (d) {
    case busview::Direction::Received: return QStringLiteral("Rx");
    case busview::Direction::Sent: return QStringLiteral("Tx");
    case busview::Direction::Unknown: break;
  }
  return {};
}

QString idText(const can::CanFrame& f) {
  const bool extended = (f.type & can::kMsgExtended) != 0;
  return QStringLiteral("%1").arg(f.id, extended ? 8 : 3, 16, QLatin1Char('0')).toUpper();
}

QString dataText(const can::CanFrame& f) {
  if ((f.type & can::kMsgRemote) != 0) return QStringLiteral("remote request");
  const std::size_t len = std::min<std::size_t>(f.len, 8);
  std::string bytes(reinterpret_cast<const char*>(f.data.data()), len);
  return QString::fromStdString(od::hexPairsText(bytes, " "));
}

}  // namespace

TraceModel::TraceModel(const busview::BusView& view, QObject* parent) : QAbstractTableModel(parent), m_view(view) {}

int TraceModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TraceModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TraceModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const std::array<QString, kColumnCount> kHeaders{
      QStringLiteral("Time (ms)"), QStringLiteral("Dir"),  QStringLiteral("ID"),
      QStringLiteral("Len"),       QStringLiteral("Data"), QStringLiteral("Meaning")};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) return {};
  return kHeaders[static_cast<std::size_t>(section)];
}

QVariant TraceModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size()) return {};
  if (role == Qt::DisplayRole) return cellText(index.row(), index.column());
  if (role == Qt::TextAlignmentRole && (index.column() == kTime || index.column() == kLength))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QString TraceModel::cellText(int row, int column) const {
  const std::uint64_t n = m_rows.number(static_cast<std::size_t>(row));
  const busview::TraceFrame& tf = m_view.trace().byNumber(n);
  switch (column) {
    case kTime: return QString::number(static_cast<double>(tf.timeUs) / 1000.0, 'f', 3);
    case kDirection: return directionText(tf.direction);
    case kId: return idText(tf.frame);
    case kLength: return QString::number(tf.frame.len);
    case kData: return dataText(tf.frame);
    case kMeaning: return QString::fromStdString(m_view.describeFrame(n));
    default: return {};
  }
}

// Rows that went from the top while as many came at the end are told as a shift (each row shows
// the frame `shifted` rows further on): removing and inserting them would make the list's row
// header walk all its sections, a million once the history is full, twice a refresh.
bool TraceModel::refresh() {
  const busview::RowChange change = m_rows.update(m_view.trace());
  const int rows = static_cast<int>(m_rows.size());
  const int shifted = static_cast<int>(std::min(change.removed, change.added));
  const int removed = static_cast<int>(change.removed) - shifted;
  const int added = static_cast<int>(change.added) - shifted;
  // The rows are changed already; the view is told in the order it needs.
  if (removed != 0) {
    beginRemoveRows({}, 0, removed - 1);
    endRemoveRows();
  }
  if (shifted != 0) shiftRows(shifted, rows - added);
  if (added != 0) {
    beginInsertRows({}, rows - added, rows - 1);
    endInsertRows();
  }
  return change.any();
}

// The view repaints its `rows` rows; what it holds (selection, current row) moves up `by` rows
// with its frame, or goes with it.
void TraceModel::shiftRows(int by, int rows) {
  const QModelIndexList held = persistentIndexList();
  QModelIndexList moved;
  moved.reserve(held.size());
  for (const QModelIndex& i : held) moved.append(i.row() >= by ? index(i.row() - by, i.column()) : QModelIndex());
  changePersistentIndexList(held, moved);
  emit dataChanged(index(0, 0), index(rows - 1, kColumnCount - 1), {Qt::DisplayRole});
}

void TraceModel::setFilter(const busview::TraceFilter& filter) {
  beginResetModel();
  m_rows.setFilter(filter, m_view.trace());
  endResetModel();
}

void TraceModel::reset() {
  beginResetModel();
  m_rows.reset();
  m_rows.setFilter(m_rows.filter(), m_view.trace());
  endResetModel();
}

}  // namespace bp::app
