#include "app/DcfCompareDialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Messages.h"
#include "app/WindowStyle.h"
#include "app/Widgets.h"
#include "util/FileIo.h"

namespace bp::app {
namespace {

// A value on one line of the table, its start only when it is long (the CSV keeps it whole).
QString cellText(const std::string& value) {
  constexpr qsizetype kShown = 120;
  QString text = textFromBytes(value);
  text.replace(u'\r', u' ').replace(u'\n', u' ');
  return text.size() > kShown ? text.left(kShown) + QStringLiteral("...") : text;
}

}  // namespace

TfrmDcfCompare::TfrmDcfCompare(QWidget* parent, const QString& title, const QString& left, const QString& right,
                               std::vector<dcf::Difference> differences)
    : QDialog(parent), m_differences(std::move(differences)) {
  setObjectName(QStringLiteral("frmDcfCompare"));
  setWindowTitle(QStringLiteral("Compare"));
  applyFormStyle(this);
  chooseCsvFile = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Export differences"), {},
                                        QStringLiteral("CSV files (*.csv)"));
  };
  auto* layout = new QVBoxLayout(this);
  const auto count = static_cast<qsizetype>(m_differences.size());
  lblCompare = new QLabel(title + (count == 1 ? QStringLiteral(": 1 difference") : QStringLiteral(": %1 differences").arg(count)));
  lblCompare->setObjectName(QStringLiteral("lblCompare"));
  layout->addWidget(lblCompare);
  lvDifferences = new QTreeWidget;
  lvDifferences->setObjectName(QStringLiteral("lvDifferences"));
  lvDifferences->setRootIsDecorated(false);
  lvDifferences->setHeaderLabels({QStringLiteral("Index"), QStringLiteral("Sub"), QStringLiteral("Name"), left, right});
  const int widths[] = {60, 40, 240, 150};
  for (int c = 0; c < 4; ++c) lvDifferences->setColumnWidth(c, widths[c]);
  for (const dcf::Difference& d : m_differences)
    lvDifferences->addTopLevelItem(new QTreeWidgetItem(
        {QString::asprintf("0x%04X", d.index), QString::number(d.subIndex), textFromBytes(d.name),
         cellText(d.left), cellText(d.right)}));
  layout->addWidget(lvDifferences, 1);
  auto* buttons = new QHBoxLayout;
  btnCompareCsv = new QPushButton(QStringLiteral("Export CSV..."));
  btnCompareCsv->setObjectName(QStringLiteral("btnCompareCsv"));
  btnCompareClose = new QPushButton(QStringLiteral("Close"));
  btnCompareClose->setObjectName(QStringLiteral("btnCompareClose"));
  buttons->addStretch(1);
  buttons->addWidget(btnCompareCsv);
  buttons->addWidget(btnCompareClose);
  layout->addLayout(buttons);
  connect(btnCompareCsv, &QPushButton::clicked, this, &TfrmDcfCompare::btnCompareCsvClick);
  connect(btnCompareClose, &QPushButton::clicked, this, &QDialog::close);
  resize(720, 420);
}

void TfrmDcfCompare::btnCompareCsvClick() {
  const QString file = chooseCsvFile();
  if (file.isEmpty()) return;
  guarded(MessageKind::Error, [&] {
    const std::string csv = dcf::differencesCsv(m_differences, localeDecimalSeparator());
    fileio::writeFileReplacing(file.toUtf8().toStdString(),
                               {reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size()});
  });
}

}  // namespace bp::app
