#pragma once
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "dcf/DcfRestore.h"

namespace bp::app {

// The objects whose values differ, as a table that can be exported as CSV. Not modal.
class TfrmDcfCompare : public QDialog {
  Q_OBJECT
 public:
  // `title` says what was compared; `left` and `right` name the two sides (column captions).
  TfrmDcfCompare(QWidget* parent, const QString& title, const QString& left, const QString& right,
                 std::vector<dcf::Difference> differences);

  // The CSV file to write; empty: cancelled. A seam for tests.
  std::function<QString()> chooseCsvFile;

  QLabel* lblCompare;
  QTreeWidget* lvDifferences;
  QPushButton* btnCompareCsv;
  QPushButton* btnCompareClose;

 public slots:
  void btnCompareCsvClick();

 private:
  std::vector<dcf::Difference> m_differences;
};

}  // namespace bp::app
