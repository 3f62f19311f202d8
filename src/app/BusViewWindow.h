#pragma once
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "busview/BusView.h"
#include "busview/LogFiles.h"
#include "busview/PollSchedule.h"
#include "engine/Session.h"

namespace bp::app {

class PlotPanel;
class TraceModel;

// The Bus view: the bus in CANopen terms, in a window of its own beside the main window. It sees
// what the monitor sees (live) or a log file opened in it; the main window's layout is untouched.
// Thin: the BusView core keeps and decodes everything, this window shows it on a timer.
class TfrmBusView : public QWidget {
  Q_OBJECT
 public:
  // The main window owns it (as a child with a window of its own) and deletes it before its
  // session goes.
  TfrmBusView(engine::Session& session, QWidget* parent);
  ~TfrmBusView() override;

  // Seams for tests: the file to record to (save = true) or the log to open; empty: cancelled.
  std::function<QString(bool save)> chooseLogFile;
  // Asks before a log is sent to the bus; true to send.
  std::function<bool(const QString& question)> confirm;
  // Called with the dictionary records that PDO values renewed (the main window's tree captions).
  std::function<void(const std::vector<od::ObjectEntry*>&)> valuesRenewed;

  // The dictionary or the selected node changed: the PDO table is built anew.
  void dictionaryChanged();
  // The interface named in recorded lines ("can0", "vcan0").
  void setInterfaceName(std::string name) { m_iface = std::move(name); }
  // Takes in what the bus brought and shows it (the view timer's work).
  void refresh();
  // Opens a log file in the view (no bus needed). False after a box naming what was wrong.
  bool openLog(const QString& fileName);
  bool showingLog() const noexcept { return m_logFrames.has_value(); }
  busview::BusView& model() noexcept { return m_view; }
  TraceModel& traceModel() noexcept { return *m_traceModel; }

  // ---- controls (objectName = member name) ----
  QPushButton* btnRecord;
  QPushButton* btnOpenLog;
  QPushButton* btnLive;
  QPushButton* btnReplay;
  QPushButton* btnPause;
  QPushButton* btnClear;
  QLabel* lblStatus;
  QTreeWidget* lvNodes;
  QTreeWidget* lvEmcy;
  QComboBox* cbTraceNode;
  QComboBox* cbTraceService;
  QLineEdit* edTraceId;
  QTableView* lvTrace;
  QPushButton* btnReadPdo;
  QTreeWidget* lvPdo;
  PlotPanel* pnlPlot;
  QLineEdit* edPollObject;
  QLineEdit* edPollPeriod;
  QPushButton* btnPollAdd;
  QTimer* tiView;

 public slots:
  void btnRecordClick();
  void btnOpenLogClick();
  void btnLiveClick();
  void btnReplayClick();
  void btnPauseClick();
  void btnClearClick();
  void btnReadPdoClick();
  void btnPollAddClick();
  void traceFilterChange();
  void lvPdoItemChanged(QTreeWidgetItem* item, int column);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Layout (BusViewLayout.cpp).
  void buildLayout();
  QWidget* buildToolRow();
  QWidget* buildNodeViews();
  QWidget* buildTraceTab();
  QWidget* buildPdoTab();
  QWidget* buildPlotTab();
  // Live frames in, or not.
  void attachLive(bool on);
  void restart();
  // The tables (BusViewTables.cpp).
  void refreshNodes();
  void refreshEmergencies();
  void refreshPdos();
  void buildPdoRows();
  void refreshStatus();
  void renewTrace();
  void pollObjects();
  // Reads one object of the selected node on the window thread, as R does; throws its error.
  std::string readObject(std::uint16_t index, std::uint8_t subIndex);
  // Logs (BusViewLogs.cpp).
  void stopRecording();
  void replayStep();
  void stopReplay();

  engine::Session& m_session;
  busview::BusView m_view;
  TraceModel* m_traceModel;
  busview::NodeReadings m_readings;      // PDO parameters read from the node ...
  std::uint8_t m_readingsNode = 0;        // ... of this node ID
  busview::PollSchedule m_polls;
  std::string m_iface = "can0";
  bool m_live = false;
  bool m_followTail = true;
  std::optional<std::vector<busview::TraceFrame>> m_logFrames;  // the log shown, while one is
  QString m_logName;
  std::optional<busview::ReplaySchedule> m_replay;
  std::uint64_t m_replayStartUs = 0;
  QTimer* m_replayTimer;
  std::uint64_t m_emcyShown = 0;                   // emergencies listed so far (of emergencyCount)
  std::vector<std::vector<QTreeWidgetItem*>> m_pdoItems;  // per PDO, the rows of its objects
  bool m_buildingPdoRows = false;
};

}  // namespace bp::app
