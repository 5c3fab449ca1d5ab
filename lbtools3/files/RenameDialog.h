// TNewRenameFiles: renames the files of the songs selected in a document window after
// a mask of their tag fields; the other lists follow the new names.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class IDocumentWindow;
class IRepositoryLists;

class TNewRenameFiles : public QDialog {
  Q_OBJECT
 public:
  // lists: the repository, whose songs' files an overwrite never replaces (may be null).
  TNewRenameFiles(IDocumentWindow* child, IRepositoryLists* lists, QWidget* parent = nullptr);

  QLineEdit* Edit1;  // the mask
  QLineEdit* Edit2;  // minimum number of digits of the song number
  QCheckBox* CheckBoxCorrectFolders;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QTreeWidget* Preview;  // old and new names of the selected songs, conflicts marked
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  void OKBtnClick();
  // Shows the names the mask gives now (nothing while the mask is refused).
  void UpdatePreview();

 private:
  IDocumentWindow* m_Child;
  IRepositoryLists* m_pLists;
};
