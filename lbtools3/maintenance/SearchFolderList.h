// The folder list of the search dialogs (forgotten files, moved files): a typed or
// browsed folder is added once, selected folders are removed, and Remove is enabled
// only while something is selected. The dialogs own the widgets; this wires them.
#pragma once

#include <QObject>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;

class TSearchFolderList : public QObject {
 public:
  TSearchFolderList(QListWidget* list, QLineEdit* edit, QPushButton* browse, QPushButton* add,
                    QPushButton* remove);

  QStringList Folders() const;
  // Adds the typed folder when it may join the list.
  void Add();
  // Adds a folder that the user typed or browsed to but did not add (the search is
  // about to run: the user meant it).
  void AddPending();
  void RemoveSelected();

 private:
  QListWidget* m_List;
  QLineEdit* m_Edit;
  bool m_bPending = false;  // the edit holds the user's folder, not yet added
};
