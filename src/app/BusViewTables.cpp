// The Bus view's tables: nodes, emergencies and PDO values, and the objects polled for the plot.
#include <QBrush>

#include "app/BusViewWindow.h"
#include "app/Messages.h"
#include "app/Widgets.h"
#include "busview/EmcyCodes.h"
#include "busview/PdoReadback.h"
#include "busview/PdoValues.h"
#include "od/ValueText.h"
#include "sdo/SdoTransfer.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::app {
namespace {

enum NodeColumn { kNode, kState, kLastHeard, kHeartbeat, kLosses };
enum PdoColumn { kPdo, kObject, kName, kValue, kFrames };
constexpr int kSeriesRole = Qt::UserRole + 1;  // lvPdo: the plot series of a ticked object

QString seconds(std::uint64_t us) { return QStringLiteral("%1 s").arg(static_cast<double>(us) / 1e6, 0, 'f', 3); }

QString lossText(const busview::NodeRow& row) {
  if (row.losses == 0) return {};
  const QString times = row.losses == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(row.losses);
  return row.back ? QStringLiteral("back; lost %1").arg(times) : QStringLiteral("lost %1").arg(times);
}

QString fromView(std::string_view text) { return textFromBytes(text); }

QString objectText(std::uint16_t index, std::uint8_t sub) {
  return QStringLiteral("0x%1:%2").arg(index, 4, 16, QLatin1Char('0')).arg(sub, 2, 16, QLatin1Char('0')).toUpper().replace(
      QStringLiteral("0X"), QStringLiteral("0x"));
}

}  // namespace

std::string TfrmBusView::readObject(std::uint16_t index, std::uint8_t sub) {
  sdo::TransferOptions options;
  options.timeoutMs = sdo::SdoClient::kTimeoutMs;
  options.block = false;
  options.windowThread = true;
  return sdo::SdoTransfer(m_session.sdo, options).upload(index, sub);
}

void TfrmBusView::refreshNodes() {
  if (!m_view.takeNodesChanged() && lvNodes->topLevelItemCount() == 0) return;
  const std::vector<busview::NodeRow> rows = m_view.nodes().rows();
  while (lvNodes->topLevelItemCount() > static_cast<int>(rows.size())) delete lvNodes->takeTopLevelItem(0);
  while (lvNodes->topLevelItemCount() < static_cast<int>(rows.size())) lvNodes->addTopLevelItem(new QTreeWidgetItem);
  const std::uint64_t origin = m_view.trace().originUs();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const busview::NodeRow& row = rows[i];
    QTreeWidgetItem* item = lvNodes->topLevelItem(static_cast<int>(i));
    const QString texts[] = {
        QString::number(row.node), fromView(busview::stateText(row)),
        seconds(row.lastHeardUs > origin ? row.lastHeardUs - origin : 0),
        row.heartbeatPeriodUs != 0 ? QStringLiteral("%1 ms").arg((row.heartbeatPeriodUs + 500) / 1000) : QString(),
        lossText(row)};
    for (int c = kNode; c <= kLosses; ++c)
      if (item->text(c) != texts[c]) item->setText(c, texts[c]);
    item->setForeground(kState, row.lost ? QBrush(Qt::red) : QBrush());
  }
}

void TfrmBusView::refreshEmergencies() {
  const std::deque<busview::EmcyEntry>& all = m_view.emergencies();
  const std::uint64_t fresh = std::min<std::uint64_t>(m_view.emergencyCount() - m_emcyShown, all.size());
  m_emcyShown = m_view.emergencyCount();
  QList<QTreeWidgetItem*> items;
  for (std::size_t i = all.size() - static_cast<std::size_t>(fresh); i < all.size(); ++i) {
    const busview::EmcyEntry& e = all[i];
    const busview::EmcyCodeText text = busview::lookUpEmcyCode(e.emcy.code, m_view.isDrive(e.node));
    QString meaning = text.general.empty() ? QStringLiteral("unknown code") : fromView(text.general);
    if (!text.drive.empty()) meaning += QStringLiteral(" / ") + fromView(text.drive);
    const std::string manufacturer(reinterpret_cast<const char*>(e.emcy.manufacturer.data()),
                                   e.emcy.manufacturerLength);
    items.append(new QTreeWidgetItem(QStringList{
        QString::number(static_cast<double>(e.timeUs) / 1000.0, 'f', 3), QString::number(e.node),
        QStringLiteral("0x%1").arg(e.emcy.code, 4, 16, QLatin1Char('0')).toUpper().replace(0, 2, QStringLiteral("0x")),
        meaning,
        QStringLiteral("0x%1 %2").arg(e.emcy.errorRegister, 2, 16, QLatin1Char('0')).arg(
            fromView(busview::errorRegisterText(e.emcy.errorRegister))),
        QString::fromStdString(od::hexPairsText(manufacturer, " "))}));
  }
  if (items.isEmpty()) return;
  lvEmcy->addTopLevelItems(items);
  while (lvEmcy->topLevelItemCount() > static_cast<int>(busview::BusView::kMaxEmergencies))
    delete lvEmcy->takeTopLevelItem(0);
  lvEmcy->scrollToBottom();
}

void TfrmBusView::dictionaryChanged() {
  const auto node = static_cast<std::uint8_t>(m_session.nodeId.load());
  if (node != m_readingsNode) m_readings.clear();
  m_readingsNode = node;
  const od::ObjectEntry* deviceType = m_session.dictionary.find(0x1000, 0);
  const bool drive = deviceType != nullptr && (static_cast<std::uint32_t>(deviceType->value) & 0xFFFF) == 402;
  m_view.setDriveNode(drive ? node : 0);
  // The ticked PDO objects' series go with the old table; polled objects stay.
  for (const busview::PlotLink& link : m_view.plotLinks()) m_view.plots().removeSeries(link.series);
  m_view.setPdos(busview::PdoTable(m_session.dictionary, m_readings));
  buildPdoRows();
}

void TfrmBusView::buildPdoRows() {
  m_buildingPdoRows = true;
  lvPdo->clear();
  m_pdoItems.clear();
  for (const busview::PdoMapping& pdo : m_view.pdos().pdos()) {
    std::vector<QTreeWidgetItem*>& items = m_pdoItems.emplace_back();
    const QString name = QString::fromStdString(busview::pdoName(pdo));
    for (const busview::MappedObject& m : pdo.objects) {
      auto* item = new QTreeWidgetItem(QStringList{name, objectText(m.index, m.subIndex),
                                                   m.dummy ? QStringLiteral("(gap)") : textFromBytes(m.name)});
      if (!m.dummy) item->setCheckState(kPdo, Qt::Unchecked);
      items.push_back(item);
      lvPdo->addTopLevelItem(item);
    }
  }
  m_buildingPdoRows = false;
}

void TfrmBusView::refreshPdos() {
  std::vector<od::ObjectEntry*> renewed;
  for (const std::size_t i : m_view.takeChangedPdos()) {
    const busview::PdoMapping& pdo = m_view.pdos().pdos()[i];
    const busview::PdoLatest& latest = m_view.latest()[i];
    if (latest.count == 0) continue;
    const busview::DecodedPdo decoded = busview::splitPdo(pdo, latest.frame, localeDecimalSeparator());
    for (std::size_t k = 0; k < decoded.values.size() && k < m_pdoItems[i].size(); ++k) {
      const busview::PdoValue& v = decoded.values[k];
      QTreeWidgetItem* item = m_pdoItems[i][k];
      item->setText(kValue, v.fits ? textFromBytes(v.text) : QStringLiteral("not in the frame"));
      item->setForeground(kValue, v.fits ? QBrush() : QBrush(Qt::red));
      item->setToolTip(kValue, decoded.lengthMismatch
                                   ? QStringLiteral("The frame has %1 bytes; the mapping needs %2.")
                                         .arg(latest.frame.len).arg(pdo.byteLength())
                                   : QString());
      item->setText(kFrames, QString::number(latest.count));
    }
    const std::vector<od::ObjectEntry*> stored = busview::storeInDictionary(decoded);
    renewed.insert(renewed.end(), stored.begin(), stored.end());
  }
  if (!renewed.empty() && valuesRenewed) valuesRenewed(renewed);
}

void TfrmBusView::lvPdoItemChanged(QTreeWidgetItem* item, int column) {
  if (m_buildingPdoRows || column != kPdo) return;
  const bool on = item->checkState(kPdo) == Qt::Checked;
  const QVariant series = item->data(kPdo, kSeriesRole);
  if (on == series.isValid()) return;
  std::vector<busview::PlotLink> links = m_view.plotLinks();
  if (!on) {
    m_view.plots().removeSeries(series.toInt());
    std::erase_if(links, [&](const busview::PlotLink& l) { return l.series == series.toInt(); });
    item->setData(kPdo, kSeriesRole, QVariant());
  } else {
    for (std::size_t p = 0; p < m_pdoItems.size(); ++p)
      for (std::size_t k = 0; k < m_pdoItems[p].size(); ++k)
        if (m_pdoItems[p][k] == item) {
          const std::string name = busview::pdoName(m_view.pdos().pdos()[p]) + " " +
                                   m_view.pdos().pdos()[p].objects[k].name;
          const int s = m_view.plots().addSeries(name);
          links.push_back({p, k, s});
          item->setData(kPdo, kSeriesRole, s);
          // A log is read already: its frames are plotted at once.
          if (showingLog()) m_view.plotHistory(links.back());
        }
  }
  m_view.setPlotLinks(std::move(links));
}

void TfrmBusView::btnReadPdoClick() {
  guarded(MessageKind::Error, [this] {
    const busview::ReadbackOutcome outcome =
        busview::readPdoParameters(m_session.dictionary, m_readings, [this](std::uint16_t index, std::uint8_t sub) {
          std::string bytes = readObject(index, sub);
          bytes.resize(4, '\0');
          return loadLe32(reinterpret_cast<const std::uint8_t*>(bytes.data()));
        });
    m_readingsNode = static_cast<std::uint8_t>(m_session.nodeId.load());
    dictionaryChanged();
    if (!outcome.error.empty())
      throw Error("The PDO mapping was read in part (" + std::to_string(outcome.valuesRead) +
                  " values); then: " + outcome.error);
  });
}

}  // namespace bp::app
