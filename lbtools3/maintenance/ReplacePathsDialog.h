// TNewReplacePaths ("Замена путей файлов"): replaces a part of the selected songs'
// paths and the drive letters they begin with, in the active document window.
#pragma once

#include <functional>

#include "ReplacePaths.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class IDocumentWindow;
class TIniFile;

class TNewReplacePaths : public QDialog {
  Q_OBJECT
 public:
  TNewReplacePaths(IDocumentWindow* child, TIniFile& ini, QWidget* parent = nullptr);

  QLineEdit* EditFind;
  QLineEdit* EditReplace;
  QCheckBox* CheckBox1;
  QTableWidget* RxDrawGridDisks;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  // A replacement typed or picked for grid row; false (the cell shows the previous
  // value again) when it is not accepted.
  bool SetReplacement(int row, const QString& typed);
  const lb::TDrivePairs& Drives() const { return m_Drives; }
  bool DrivesChanged() const { return m_bDrivesChanged; }

  void OKBtnClick();

 private:
  void FillGrid();
  // Replaces the selected songs' paths in the window.
  lb::TReplaceResult Replace();

  IDocumentWindow* m_Child;
  TIniFile& m_Ini;
  lb::TDrivePairs m_Drives;
  bool m_bHasDrives = false;
  bool m_bDrivesChanged = false;
};

namespace lb {
// ServiceCheckList: selects the rows whose file is missing, deselects the others,
// and tells the result. When files are missing and findMoved is given, the user is
// offered the search for where they went.
void CheckListInWindow(IDocumentWindow* child, const std::function<void()>& findMoved = {});
}  // namespace lb
