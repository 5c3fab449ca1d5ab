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
class IRepositoryLists;

class TCopyMoveFiles : public QDialog {
  Q_OBJECT
 public:
  // lists: the repository, whose songs' files an overwrite never replaces (may be null).
  TCopyMoveFiles(IDocumentWindow* child, bool bCopy, IRepositoryLists* lists,
                 QWidget* parent = nullptr);

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
  // The root folder as typed, made absolute (relative to the list's folder).
  QString RootFolder() const;
  void StoreSettings(const QString& root);
  static QList<int> SelectedRows(const QListWidget* list);

  IDocumentWindow* m_Child;
  bool m_bCopy;
  IRepositoryLists* m_pLists;
  lb::TCriteriaLists m_Criteria;
  QStringList m_History;
};
