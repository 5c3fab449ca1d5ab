// TNewSortDlg ("Сортировка"): the column kind to sort the selected songs by, the
// direction and whether letter case counts. The direction and the case choice are
// the program-wide g_bSortAscending and g_bSortCaseSensitive, changed at each click.
#pragma once

#include "Sort.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;

class TNewSortDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TNewSortDlg(QWidget* parent = nullptr);

  QComboBox* ComboBox1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QCheckBox* CheckBox1;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  // The order chosen.
  lb::TSortOrder Order() const;
};
