// TWriteTextDlg ("Запись в виде текста..."): the report file, the fields to write and
// the lists to include; OK checks the choice, remembers it in the settings file and
// writes the report.
#pragma once

#include <QDialog>

class IDocumentWindow;
class IRepositoryLists;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class TIniFile;

class TWriteTextDlg : public QDialog {
  Q_OBJECT
 public:
  // child: the active document window (may be null).
  TWriteTextDlg(IDocumentWindow* child, IRepositoryLists& lists, TIniFile& ini,
                QWidget* parent = nullptr);

  QLineEdit* FilenameEdit1;
  QPushButton* BrowseBtn;
  QListWidget* ListBoxFields;
  QRadioButton* RadioGroup1[4];
  QCheckBox* CheckBoxURL;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  int ListsIndex() const;
  void SetListsIndex(int index);

  void OKBtnClick();

 private:
  void FormCreate();
  void BrowseClick();

  IDocumentWindow* m_Child;
  // The name the file dialog returned: it has asked about overwriting that file.
  QString m_ConfirmedName;
  IRepositoryLists& m_Lists;
  TIniFile& m_Ini;
};
