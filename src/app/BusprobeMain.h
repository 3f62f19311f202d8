#pragma once
#include <QCheckBox>
#include <QMenu>
#include <QPointer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Widgets.h"
#include "can/BitRate.h"
#include "dcf/DcfRestore.h"
#include "engine/Session.h"
#include "od/DcfWriter.h"

namespace bp::app {

class TfrmInput;
class FileTransfer;
class TfrmBusView;
class TfrmDcfCompare;

// The main window: owns all state (the session), lays out the controls and wires their handlers.
// Handlers read the controls, call the core and write the controls back.
class TfrmBPX : public QWidget {
  Q_OBJECT
 public:
  // Runs the start-up sequence. `input` is the "Write Value" dialog (created by the caller after
  // the window, as the program entry does); it may be set later with setInputDialog.
  explicit TfrmBPX(std::unique_ptr<can::CanDriver> driver, Clock& clock = SteadyClock::instance(),
                   QWidget* parent = nullptr);
  ~TfrmBPX() override;  // runs the shut-down sequence

  void setInputDialog(TfrmInput* input) { frmInput = input; }
  engine::Session& session() noexcept { return m_session; }

  // Seams for tests: how the "Write Value" dialog is run, and how file names are chosen
  // (save = true for the save dialog). An empty name means the user cancelled.
  std::function<int(TfrmInput&)> runInputDialog;
  std::function<QString(bool save)> chooseListFile;
  // The file of U (save = true) and D for the object named; empty when the user cancelled.
  std::function<QString(bool save, const QString& object)> chooseTransferFile;
  // The DCF file to save (save = true) or open, asked with `caption`; empty: cancelled.
  std::function<QString(bool save, const QString& caption)> chooseDcfFile;
  // How a restore runs (whether it ends with "save", whether it goes on after a failed write);
  // empty when the user cancelled.
  std::function<std::optional<dcf::RestoreOptions>(const QString& question)> askRestoreOptions;
  // The compare table's CSV file, when set (tests); else the table asks.
  std::function<QString()> chooseCompareCsvFile;
  // How the tree's context menu is shown.
  std::function<void(QMenu& menu, const QPoint& at)> runContextMenu;

  // ---- controls (objectName = member name) ----
  QLabel* lblVersion;
  QLabel* Label7;
  CloseUpComboBox* cbSpeed;
  QLabel* Label2;
  CloseUpComboBox* cbNodeID;
  QLabel* Label1;
  QLineEdit* edEDSFile;
  QPushButton* btnEDSLoad;
  QLabel* Label6;
  QLineEdit* edSyncTime;
  QPushButton* btnEnableSync;
  QPushButton* btnStopSync;
  QLabel* Label4;
  QLineEdit* edGuardTime;
  QPushButton* btnEnableGuard;
  QPushButton* btnStopGuard;
  QLabel* lblSDO;
  QTreeWidget* tvSDO;
  QTreeWidget* lvReceived;
  QLabel* Label5;
  ReportListView* lvUserSDO;
  QPushButton* pbSaveSdo;
  QPushButton* btnReadUser;
  QPushButton* btnWriteUser;
  QPushButton* pbLoadSdo;
  QPushButton* btnClose;
  QLabel* Label3;
  QPushButton* btnStart;
  QPushButton* btnPreOper;
  QPushButton* btnStop;
  QPushButton* btnResetNode;
  QLineEdit* edRxPdoData;
  CloseUpComboBox* cbRxPdoNo;
  QPushButton* btSendRxPDO;
  QTimer* tiBufferReader;
  QTimer* tiGuard;
  QTimer* tiSync;
  TfrmInput* frmInput = nullptr;
  TfrmInput* frmEdit = nullptr;  // "Edit Value" (E), made on first use

 public slots:
  // Bus and window
  void btnCloseClick();
  void cbNodeIDChange();
  void cbSpeedCloseUp();
  void tiBufferReaderTimer();
  // Object dictionary and SDO from the tree
  void btnEDSLoadClick();
  // Returns true when the key was one of R, A, W, E, U, D (then it is swallowed).
  bool tvSDOKeyPress(QChar key);
  void tvSDOContextMenu(const QPoint& pos);
  // The Bus view (F2, and the tree's and the monitor's context menus): made on first use.
  void openBusView();
  void lvReceivedContextMenu(const QPoint& pos);
  // NMT, guarding, SYNC, RxPDO
  void btnStartClick();
  void btnStopClick();
  void btnPreOperClick();
  void btnResetNodeClick();
  void btnEnableGuardClick();
  void btnStopGuardClick();
  void tiGuardTimer();
  void btnEnableSyncClick();
  void btnStopSyncClick();
  void tiSyncTimer();
  void btSendRxPDOClick();
  // User SDO list
  void btnReadUserClick();
  void btnWriteUserClick();
  void lvUserSDODblClick();
  void lvUserSDOKeyUp(int key);
  bool lvUserSDODragOver(QObject* source);
  void lvUserSDODragDrop(QObject* source, QPoint pos);
  void pbSaveSdoClick();
  void pbLoadSdoClick();

 public:
  // Working routines of the window.
  void SendNmtCommand(std::uint8_t commandSpecifier);
  void RefreshUserSdoList();
  void BuildObjectTree();
  void SaveUserSdoList(const QString& fileName);
  // Replaces the list with the file's records. Throws the load's error, the list then unchanged.
  void LoadUserSdoList(const QString& fileName);
  // The value typed for `entry` in the "Write Value" dialog; nothing when the entry's type cannot
  // be typed (after the "Unsupported type" box) or the dialog was cancelled. Throws the conversion
  // or range error of the typed text. Changes nothing.
  std::optional<std::int32_t> askWriteValue(const od::ObjectEntry& entry);
  // Appends an entry for `entry` to the user SDO list and shows the list.
  void addToUserSdoList(const od::ObjectEntry& entry);
  char decimalSeparator() const;
  TfrmBusView* busView() const noexcept { return m_busView; }
  TfrmDcfCompare* lastCompare() const noexcept;  // the latest compare table, while open
  // The node's configuration as a DCF (BusprobeDcf.cpp): read on the file transfer's worker.
  void saveDcf();
  void compareNodeWithDcf();
  void compareNodeWithDefaults();
  void compareDcfFiles();
  void restoreFromDcf();
  QString captionOf(const od::ObjectEntry& entry) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The layout, one part each: the controls above the views, the three views, the controls below
  // them, the tab order, the timers, and the handlers' wiring.
  void buildLayout();
  void placeTopControls();
  void placeObjectTree();
  void placeMonitorView();
  void placeUserListView();
  void placeBottomControls();
  void setUpTabOrder();
  void createTimers();
  void connectHandlers();
  void startUp();
  void shutDown();
  void openBus(const can::BitRateRow& row);
  void updateMonitorRow(std::size_t row);
  // The tree's key commands on an object: read (and with `addToList` keep it in the user list),
  // and write a typed value.
  void readFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry, bool addToList);
  void writeFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry);
  // E: a value of any data type, typed in its own form (BusprobeTransfers.cpp).
  void editFromTree(QTreeWidgetItem& item, od::ObjectEntry& entry);
  TfrmInput& editDialog();
  // The bytes of the value typed in "Edit Value"; nothing when cancelled. Throws the typed text's
  // error.
  std::optional<std::string> askEditValue(const od::ObjectEntry& entry);
  // U and D: the object's value to and from a file, on the file transfer's own thread.
  void uploadToFile(QTreeWidgetItem& item, od::ObjectEntry& entry);
  void downloadFromFile(od::ObjectEntry& entry);
  void trackFileTransfer(FileTransfer* transfer);
  QString askTransferFile(bool save, const QString& object);
  QString askDcfFile(bool save, const QString& caption);
  std::optional<dcf::RestoreOptions> askRestore(const QString& question);
  void runNodeTask(const QString& what, sdo::TransferJob::Task task, std::function<void()> finished,
                   bool cancellable = true);
  void readNode(const QString& what, std::vector<dcf::ObjectKey> objects,
                std::function<void(const std::vector<od::ReadOutcome>&)> finished);
  void showDifferences(const QString& title, const QString& left, const QString& right,
                       std::vector<dcf::Difference> differences);
  // True (after saying so in the "Error" box) while a file transfer holds the SDO client.
  bool refusedForFileTransfer();
  // The file name chooser of the list file buttons (save = true for the save dialog).
  QString listFileToUse(bool save);
  // Rewrites the tree captions of these records (their values or defaults changed).
  void renewCaptions(const std::vector<od::ObjectEntry*>& entries);
  void AddCategoryNode(std::int32_t first, std::int32_t last, const QString& caption);
  void setTimerPeriod(QTimer* timer, QLineEdit* edit);
  // Copies the list file to "SDOList.bin.bak". Throws bp::Error as usersdo::backUpFile.
  void backUpListFile();
  // Copies the unreadable list file aside; the start-up box's sentence about the copy.
  QString backUpUnreadableListFile();
  // Where the shut-down saves the list: the list file, unless it is unreadable and not yet copied aside.
  QString listSaveFile() const;

  engine::Session m_session;
  FileTransfer* m_fileTransfer = nullptr;
  TfrmBusView* m_busView = nullptr;
  QPointer<TfrmDcfCompare> m_lastCompare;  // the latest compare table, while open  // a child with a window of its own; deleted before the session  // the running file transfer's dialog; a child
  std::uint32_t m_loadCount = 0;           // EDS loads so far: entries of an older load are gone
  std::vector<QTreeWidgetItem*> m_monitorItems;  // list item of each monitor row
  std::vector<std::size_t> m_changedRows;         // the monitor rows a tick rewrites
  bool m_timerStarted = false;
  bool m_shutDown = false;
  bool m_listFileUnreadable = false;  // "SDOList.bin" existed at start-up but could not be loaded
  bool m_listFileBackedUp = false;    // ... and its bytes are in "SDOList.bin.bak"
  static constexpr const char* kBackupSuffix = ".bak";   // the copy of an unreadable list file
  static constexpr const char* kSideFileSuffix = ".new";  // the list's file when that copy failed
};

inline constexpr const char* kDefaultEdsFileName = "drv17-ka.eds";

}  // namespace bp::app
