// TNewTagsEditDlg, "Редактор тэгов": edits the ID3v1 and ID3v2 tags of the songs
// selected in one document window. With one song selected it edits that song's tags
// (single mode); with more, the ticked fields of all of them at once (batch mode). It
// copies fields between the versions and takes title and artist from file names. The
// last apply of a window can be undone.
#pragma once

#include "TagsApply.h"

#include <QDialog>
#include <memory>

class IDocumentWindow;
class IWorkerDocumentWindow;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TCoverView;

class TNewTagsEditDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = 1;
  static constexpr const char* kMissingFile = " (файл отсутствует)";
  static constexpr const char* kStreamAddress = " (адрес потока, а не файл)";
  static constexpr const char* kFillAction = "Компиляция вспомогательной информации";
  static constexpr const char* kLossyHint =
      "Символы, которых нет в кодовой странице тэга ID3v1, будут записаны как \"?\"";

  explicit TNewTagsEditDlg(QWidget* parent = nullptr);
  ~TNewTagsEditDlg() override;

  // The window whose selected songs are edited (a document window that also answers
  // the row queries of IWorkerDocumentWindow); set before the dialog is shown.
  IDocumentWindow* m_Child = nullptr;
  bool m_bSingle = false;

  // ID3v1
  QCheckBox* CheckBox1;
  QCheckBox *CheckBoxName1, *CheckBoxArtist1, *CheckBoxAlbum1, *CheckBoxYear1, *CheckBoxComment1,
      *CheckBoxGenre1;
  QComboBox *ComboBoxName1, *ComboBoxArtist1, *ComboBoxAlbum1, *ComboBoxYear1, *ComboBoxComment1,
      *ComboBoxGenre1;
  // ID3v2
  QCheckBox* CheckBox2;
  QCheckBox *CheckBoxName2, *CheckBoxArtist2, *CheckBoxAlbum2, *CheckBoxYear2, *CheckBoxGenre2,
      *CheckBoxComment2, *CheckBoxComposer2, *CheckBoxOrigArtist2, *CheckBoxCopyright2,
      *CheckBoxURL2, *CheckBoxEncodedBy2, *CheckBoxTrack2;
  QComboBox *ComboBoxName2, *ComboBoxArtist2, *ComboBoxAlbum2, *ComboBoxYear2, *ComboBoxGenre2,
      *ComboBoxComposer2, *ComboBoxOrigArtist2, *ComboBoxCopyright2, *ComboBoxURL2,
      *ComboBoxEncodedBy2;
  QPlainTextEdit* MemoComment2;
  QLineEdit* EditTrack2;
  // path, copies, buttons
  QLabel* LabelPath;
  QLineEdit* EditPath;
  QCheckBox *CheckBoxv2v1, *CheckBoxv1v2;
  QPushButton *Btnv2v1, *Btnv1v2;
  QPushButton *OKBtn, *CancelBtn;
  // extraction from the file name
  QGroupBox* GroupBox1;
  QCheckBox *CheckBox3, *CheckBox4, *CheckBox5;
  QLabel* Label4;
  QLineEdit* EditSymbols;
  QPushButton* BtnExtract;
  // the front cover, beside the fields
  TCoverView* Cover;

  // Prepares the dialog for m_Child (runs once, when first shown).
  void FormShow();
  // The apply of OK; false keeps the dialog open.
  bool Apply();
  void OKBtnClick();
  void Btnv1v2Click();
  void Btnv2v1Click();
  void BtnExtractClick();
  // Recomputes every enabling rule.
  void UpdateEnabling();

  // What the controls ask for, as the apply carries it out.
  lbtags::TTagsEditRequest Request() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The parts of the form, built once by the constructor.
  QLayout* BuildPathRow();
  QWidget* BuildSide1();
  QWidget* BuildSide2();
  QLayout* BuildCopies();
  QWidget* BuildExtraction();
  QLayout* BuildButtons();
  void ConnectControls();

  IWorkerDocumentWindow* Rows() const;
  std::vector<int> SelectedRows() const;
  bool AnyCarriesTag1() const;
  void FillLists();
  void ShowSong();
  void CheckBoxv2v1Click(bool checked);
  void CheckBoxv1v2Click(bool checked);
  void TargetClick();
  void StoreUndo(std::unique_ptr<lbtags::TTagsUndo> undo);
  int GenreValue(QComboBox* box, int unknown) const;

  bool m_bPrepared = false;
  // Some selected file may carry an ID3v1 tag (MP3, APE, WavPack, Musepack, TrueAudio):
  // otherwise the ID3v1 side and the copies between the versions are disabled.
  bool m_bTag1Possible = true;
  // A stored ID3v1 genre number the list has no entry for (kept while the list shows
  // the empty entry); -1 when none.
  int m_UnknownGenre1 = -1;
};

namespace lbtags {
// The undo of the last apply in a document window, while that apply is the window's
// last change (lb::LastChange).
TTagsUndo* WindowUndo(IDocumentWindow* window);
void SetWindowUndo(IDocumentWindow* window, std::unique_ptr<TTagsUndo> undo);
}  // namespace lbtags
