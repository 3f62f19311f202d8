#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "sdo/TransferJob.h"

class QProgressDialog;
class QWidget;

namespace bp::app {

// The progress dialog of a running file transfer (sdo::TransferJob on its worker thread). It is
// not modal: the window stays usable and the monitor keeps running. It shows the bytes moved, the
// total when known and the rate; its Cancel button cancels the job. When the job has finished,
// the dialog closes and `finished` runs on the window thread with the job's bytes (an upload's
// data; empty for a download); a failure goes to the "Error" box instead.
class FileTransfer : public QObject {
  Q_OBJECT
 public:
  using Finished = std::function<void(std::string bytes)>;

  // The job must have been started; it must outlive this object.
  // `unit` names what done() and total() count ("bytes", or "objects" for a task's steps).
  FileTransfer(QWidget* parent, sdo::TransferJob& job, const QString& what, Finished finished,
               const QString& unit = QStringLiteral("bytes"));
  ~FileTransfer() override;

  QProgressDialog* dialog() const noexcept { return m_dialog; }
  // For a job that cannot be cancelled: the dialog has no Cancel button.
  void withoutCancel();

  // "12,288 of 65,536 bytes, 24.0 KiB/s"; without a total "12,288 bytes, ..."; the rate once a
  // tenth of a second has passed.
  static QString progressText(std::uint64_t done, std::uint64_t total, double seconds,
                              const QString& unit = QStringLiteral("bytes"));

 signals:
  // After `finished` ran (or the failure was shown); the owner may release this object then.
  void ended();

 private:
  void poll();

  sdo::TransferJob& m_job;
  QString m_what;
  QString m_unit;
  QProgressDialog* m_dialog;
  QTimer m_timer;
  Finished m_finished;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace bp::app
