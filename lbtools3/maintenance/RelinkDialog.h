// TRelinkDlg ("Поиск перемещённых файлов"): the folders to search (remembered in the
// settings), the search over them, and the review of its result: each missing song
// of the list with its candidates and their scores. The user takes every sure match
// at once, picks among several candidates, or leaves a song missing; OK changes the
// paths in every list of the repository.
#pragma once

#include "SearchFolderList.h"

#include "Relink.h"

#include <QDialog>

class IDocumentHost;
class IDocumentWindow;
class IRepositoryLists;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
class TIniFile;

class TRelinkDlg : public QDialog {
  Q_OBJECT
 public:
  TRelinkDlg(IDocumentWindow& window, IDocumentHost& host, IRepositoryLists& lists, TIniFile& ini,
             QWidget* parent = nullptr);
  // The folder list goes back into the settings file.
  ~TRelinkDlg() override;

  QLineEdit* DirectoryEdit1;
  QPushButton* BrowseBtn;
  QPushButton* ButtonAdd;
  QPushButton* ButtonRemove;
  QListWidget* TextListBox1;
  QPushButton* SearchBtn;
  QTableWidget* ResultGrid;
  QLabel* SummaryLabel;
  QPushButton* SureBtn;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

  QStringList Folders() const { return m_FolderList->Folders(); }
  const std::vector<lb::TRelinkSong>& Songs() const { return m_Songs; }
  // The chosen candidate of each song (-1: left missing).
  std::vector<int> Choices() const;
  void SetChoice(int song, int candidate);

  void ButtonAddClick() { m_FolderList->Add(); }
  void ButtonRemoveClick() { m_FolderList->RemoveSelected(); }
  void SearchBtnClick();
  void SureBtnClick();
  void OkBtnClick();

 private:
  TSearchFolderList* m_FolderList;
  void FillGrid();
  QComboBox* Combo(int row) const;

  IDocumentWindow& m_Window;
  IDocumentHost& m_Host;
  IRepositoryLists& m_Lists;
  TIniFile& m_Ini;
  std::vector<lb::TRelinkSong> m_Songs;
};

namespace lb {
// "Сервис → Найти перемещённые файлы..." for the window's list.
void RelinkInWindow(IDocumentWindow& window, IDocumentHost& host, IRepositoryLists& lists,
                    TIniFile& ini, QWidget* parent);
}  // namespace lb
