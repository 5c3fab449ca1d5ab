// TNewFindText ("Поиск текста..."): the text (with its history) or the genre to find,
// the fields to search, whether case counts and in which lists. OK checks the
// choices, stores them, searches and shows the results window.
#pragma once

#include "FindText.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QRadioButton;
class TIniFile;
class TNewFindTextForm;

class TNewFindText : public QDialog {
  Q_OBJECT
 public:
  // current: the active document window (may be null); results: the results window.
  TNewFindText(IDocumentWindow* current, IListsHost* host, TIniFile& ini, TNewFindTextForm* results,
               QWidget* parent = nullptr);

  QComboBox* ComboBox1;
  QCheckBox* CheckBoxCase;
  QListWidget* ListBox1;
  QComboBox* ComboBox2;
  QButtonGroup* RadioGroup1;
  QRadioButton* RadioButtons[4];
  QPushButton* BtnFinded;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

  // The choices as the controls show them.
  TFindChoices Choices() const;
  int ChosenGenre() const;

  void OKBtnClick();
  void BtnFindedClick();

 private:
  IDocumentWindow* m_pCurrent;
  IListsHost* m_pHost;
  TIniFile& m_Ini;
  TNewFindTextForm* m_pResults;
  QStringList m_History;
};
