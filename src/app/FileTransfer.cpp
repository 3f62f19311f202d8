#include "app/FileTransfer.h"

#include <QLocale>
#include <QProgressDialog>
#include <algorithm>

#include "app/Messages.h"

namespace bp::app {

FileTransfer::FileTransfer(QWidget* parent, sdo::TransferJob& job, const QString& what, Finished finished,
                           const QString& unit)
    : QObject(parent),
      m_job(job),
      m_what(what),
      m_unit(unit),
      m_dialog(new QProgressDialog(what, QStringLiteral("Cancel"), 0, 0, parent)),
      m_finished(std::move(finished)) {
  m_dialog->setObjectName(QStringLiteral("dlgFileTransfer"));
  m_dialog->setWindowTitle(QStringLiteral("File transfer"));
  m_dialog->setWindowModality(Qt::NonModal);
  m_dialog->setMinimumDuration(0);
  m_dialog->setAutoClose(false);
  m_dialog->setAutoReset(false);
  m_dialog->setMinimumWidth(360);
  m_dialog->setLabelText(m_what + u'\n' + progressText(0, 0, 0.0, m_unit));
  connect(m_dialog, &QProgressDialog::canceled, this, [this] { m_job.cancel(); });
  connect(&m_timer, &QTimer::timeout, this, &FileTransfer::poll);
  m_timer.start(100);
  m_dialog->show();
}

FileTransfer::~FileTransfer() { delete m_dialog; }

void FileTransfer::withoutCancel() { m_dialog->setCancelButton(nullptr); }

QString FileTransfer::progressText(std::uint64_t done, std::uint64_t total, double seconds, const QString& unit) {
  const QLocale c(QLocale::English);
  QString text = c.toString(static_cast<qulonglong>(done));
  if (total != 0) text += QStringLiteral(" of ") + c.toString(static_cast<qulonglong>(total));
  text += u' ' + unit;
  if (seconds >= 0.1 && unit == QStringLiteral("bytes")) {
    const double kib = static_cast<double>(done) / 1024.0 / seconds;
    text += QStringLiteral(", ") + c.toString(kib, 'f', 1) + QStringLiteral(" KiB/s");
  }
  return text;
}

void FileTransfer::poll() {
  const std::uint64_t done = m_job.done();
  const std::uint64_t total = m_job.total();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  if (total != 0) {
    m_dialog->setMaximum(1000);  // the bar counts in int: per mille
    m_dialog->setValue(static_cast<int>(std::min(done, total) * 1000 / total));
  }
  m_dialog->setLabelText(m_what + u'\n' + progressText(done, total, seconds, m_unit));
  if (!m_job.finished()) return;
  m_timer.stop();
  m_dialog->hide();
  guarded(MessageKind::Error, [this] {
    std::string bytes = m_job.take();
    if (m_finished) m_finished(std::move(bytes));
  });
  emit ended();
}

}  // namespace bp::app
