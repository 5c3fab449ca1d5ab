// "Извлечение информации о песнях": picks a disc folder, lets every registered
// extracter say whether it knows the folder, and fills the selected songs of the
// active list from the chosen one.
#pragma once

#include "Recognizer.h"

#include <QDialog>
#include <QIcon>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class TIniFile;
class IDocumentWindow;

class TNewRecognizerDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = 25;

  // Reads the last folder and makes one row per extracter that can be created.
  TNewRecognizerDlg(TIniFile& ini, QWidget* parent = nullptr);
  void SetChild(IDocumentWindow* child) { m_Child = child; }
  bool HasRows() const { return !m_Recognizer.Rows().empty(); }

  QLabel* RxLabel1;
  QLineEdit* DirectoryEdit1;
  QToolButton* DirectoryBrowse;
  QLabel* RxLabel2;
  QTreeWidget* ListView1;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QPushButton* RecognizeBtn;
  QIcon ImageList1;  // the check mark of a recognising extracter

  void RecognizeBtnClick();
  void ListView1Click();
  void OKBtnClick();

  lb::TRecognizer& Recognizer() { return m_Recognizer; }

 private:
  void ShowMarks();

  TIniFile& m_Ini;
  IDocumentWindow* m_Child = nullptr;
  lb::TRecognizer m_Recognizer;
};
