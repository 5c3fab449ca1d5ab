// The settings dialog "Настройка": three pages over TSettingsModel (Settings.h).
//
// Use from the main window (modal, one object per showing):
//   TPropertiesForm form(this, m_Ini, this /* ISettingsEffects */);
//   form.exec();
// The constructor fills every control from the file; OK validates, writes and applies
// the effects and closes only when validation passed; Cancel writes nothing. The
// controls carry fixed object names (Edit2, CheckBox8, HotKey1, ComboBox1, ...), so
// tests find them with findChild.
#pragma once

#include "Settings.h"

#include <QDialog>
#include <QLineEdit>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

// A single key combination in the manner of the classic hot-key control: the next key
// pressed (with its modifiers) becomes the value; Backspace or Delete alone clears it.
class THotKeyEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit THotKeyEdit(QWidget* parent = nullptr);
  uint16_t ShortCut() const { return m_ShortCut; }
  void SetShortCut(uint16_t shortCut);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  uint16_t m_ShortCut = 0;
};

class TPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  // ini: the settings file (the main window's own object); effects: the main window,
  // may be null (nothing beyond the file is then affected).
  TPropertiesForm(QWidget* parent, TIniFile& ini, ISettingsEffects* effects);

  // The dialog's logic, for tests: its values reflect the controls after OK or a
  // change of the slot combo box.
  const TSettingsModel& Model() const { return m_Model; }
  // The slot shown in the hot-key editor (-1 before the first selection).
  int ShownSlot() const { return m_nSlot; }

 private slots:
  void Button1Click();  // OK
  void ComboBox1Change(int row);
  void CheckBox8Click();   // Winamp
  void CheckBox5Click();   // viewer
  void CheckBox11Click();  // cut missing files
  void BrowseBtnClick();
  void BtnActiveClick();
  void BtnDeactiveClick();
  void AddDriveBtnClick();
  void DeleteDriveBtnClick();

 private:
  void BuildGeneralPage(QTabWidget* tabs);
  void BuildAdvancedPage(QTabWidget* tabs);
  void BuildOtherPage(QTabWidget* tabs);
  void ShowPropertiesForm();
  void CollectValues();
  void StoreShownSlot();
  void RegisterShell(bool bRegister);
  // Brings the field that a failed check's message names into view and focus.
  void ShowFailingField(TSettingsModel::TField failing);

  TSettingsModel m_Model;
  ISettingsEffects* m_Effects;
  int m_nSlot = -1;
  bool m_bFilling = true;
  QTabWidget* m_Pages = nullptr;

  // "Общее"
  QLineEdit* Edit2 = nullptr;
  QCheckBox *CheckBox2 = nullptr, *CheckBox3 = nullptr, *CheckBox4 = nullptr, *CheckBox9 = nullptr,
            *CheckBox11 = nullptr, *CheckBox12 = nullptr, *CheckBox7 = nullptr,
            *CheckBox1 = nullptr, *CheckBox6 = nullptr;
  // "Дополнительно"
  QCheckBox* CheckBox8 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QPushButton* BrowseWinampBtn = nullptr;
  QLabel* HotKeyLabel = nullptr;
  QComboBox* ComboBox1 = nullptr;
  THotKeyEdit* HotKey1 = nullptr;
  QCheckBox* CheckBox10 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* HookLabel = nullptr;
  QCheckBox* CheckBox5 = nullptr;
  QLineEdit* EditorPath = nullptr;
  QPushButton* BrowseEditBtn = nullptr;
  // "Разное"
  QPushButton *BtnActive = nullptr, *BtnDeactive = nullptr;
  QLineEdit* EditVelocity = nullptr;
  QComboBox* ComboBoxDblClkAction = nullptr;
  QComboBox* ComboBoxTagCodePage = nullptr;  // item data: the code page number
  QTableWidget* DrivesTable = nullptr;       // columns: letter, folder
  QPushButton *AddDriveBtn = nullptr, *DeleteDriveBtn = nullptr;
};
