// TDeadFilesDlg ("Поиск забытых файлов"): the folders to search and the lists whose
// songs count as known; OK searches the folders for music files that no list names.
#pragma once

#include "SearchFolderList.h"

#include "CheckList.h"

#include <QDialog>

class IRepositoryLists;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class TIniFile;

class TDeadFilesDlg : public QDialog {
  Q_OBJECT
 public:
  TDeadFilesDlg(IRepositoryLists& lists, TIniFile& ini, QWidget* parent = nullptr);
  // The folder list goes back into the settings file.
  ~TDeadFilesDlg() override;

  QLineEdit* DirectoryEdit1;
  QPushButton* BrowseBtn;
  QPushButton* ButtonAdd;
  QPushButton* ButtonRemove;
  QListWidget* TextListBox1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

  QStringList Folders() const { return m_FolderList->Folders(); }
  // The forgotten files found by OK.
  const TSlDocument& Result() const { return m_Search.m_Result; }

  void ButtonAddClick() { m_FolderList->Add(); }
  void ButtonRemoveClick() { m_FolderList->RemoveSelected(); }
  void OkBtnClick();

 private:
  TSearchFolderList* m_FolderList;
  IRepositoryLists& m_Lists;
  TIniFile& m_Ini;
  lb::TForgottenFiles m_Search;
};
