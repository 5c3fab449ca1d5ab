// TCopyMoveFiles: copies or moves the files of the songs selected in a document window
// into a folder tree under a root folder, one level per chosen criterion. The work runs
// on a TCopyMoveThread under the modal progress dialog.
#pragma once

#include "CopyMove.h"

#include <QDialog>

class QAction;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QToolButton;
class IDocumentWindow;

class TCopyMoveFiles : public QDialog {
  Q_OBJECT
 public:
  TCopyMoveFiles(IDocumentWindow* child, bool bCopy, QWidget* parent = nullptr);

  QComboBox* DirectoryEdit1;
  QPushButton* BrowseBtn;
  QListWidget* ListViewSelected;
  QListWidget* ListViewUnselected;
  QAction* LeftArrow;
  QAction* RightArrow;
  QAction* UpArrow;
  QAction* DownArrow;
  QCheckBox* CheckBoxChangePaths;
  QCheckBox* CheckBoxCorrectFolders;
  QPushButton* BtnApply;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  void BrowseBtnClick();
  void BtnApplyClick();
  void OKBtnClick();
  void UpdateArrows();

 private:
  void ShowCriteria(const QList<int>& selectedRows, const QList<int>& unselectedRows);
  void StoreSettings();
  static QList<int> SelectedRows(const QListWidget* list);

  IDocumentWindow* m_Child;
  bool m_bCopy;
  lb::TCriteriaLists m_Criteria;
  QStringList m_History;
};
