#include "TagsEditorDialog.h"

#include "CoverView.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/WorkerThread.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/WindowUndo.h"
#include "lbtools3/ui/SongColumns.h"
#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace lbtags;

namespace {

// A disabled edit control shows the button face, an enabled one the window colour.
void PaintDisabledAsFace(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Disabled, QPalette::Base, p.color(QPalette::Active, QPalette::Button));
  w->setPalette(p);
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int limit) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  if (limit > 0) box->lineEdit()->setMaxLength(limit);
  box->setMinimumWidth(170);
  PaintDisabledAsFace(box);
  return box;
}

// The genre list; an editable one also takes a genre the list does not have.
QComboBox* MakeGenreList(QWidget* parent, const char* name, bool bEditable) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->addItems(GenreListItems());
  if (bEditable) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
  }
  box->setMaxVisibleItems(20);
  PaintDisabledAsFace(box);
  return box;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(name);
  return box;
}

// An ID3v1 field whose text has characters the tag's code page lacks is marked, so the
// user knows they will be written as "?".
void MarkLossy(QComboBox* box) {
  const bool lossy = LossyInTag1(box->currentText());
  if (box->property("lossy").toBool() == lossy) return;
  box->setProperty("lossy", lossy);
  box->lineEdit()->setStyleSheet(lossy ? QStringLiteral("background-color: #ffd8d8") : QString());
  box->setToolTip(lossy ? QString::fromUtf8(TNewTagsEditDlg::kLossyHint) : QString());
}

bool NotUnticked(const QCheckBox* box) {
  return box->checkState() != Qt::Unchecked;
}

TMaster MasterOf(const QCheckBox* box) {
  switch (box->checkState()) {
    case Qt::Unchecked:
      return TMaster::Unticked;
    case Qt::Checked:
      return TMaster::Ticked;
    default:
      return TMaster::Grey;
  }
}

// Offers a value to a sorted list of choices: empty values and values already there
// are skipped; the others go in at their place (ordinal order, halving search).
void InsertChoice(QStringList& list, const QString& value) {
  if (value.isEmpty()) return;
  qsizetype lo = 0, hi = list.size();
  while (lo < hi) {
    const qsizetype mid = (lo + hi) / 2;
    const int c = QString::compare(list[mid], value, Qt::CaseSensitive);
    if (c == 0) return;
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  list.insert(lo, value);
}

// One field row of a version's side: its change box and its edit control.
struct TFieldRow {
  QCheckBox** check;
  const char* checkName;
  const char* caption;
  QComboBox** combo;
  const char* comboName;
  int limit;  // 0: none, -1: the genre list, -2: the genre list that takes any text
};

// Puts the rows under the side's master box (line 0); answers the next free line.
template <size_t N>
int AddFieldRows(QWidget* side, QGridLayout* grid, const TFieldRow (&rows)[N]) {
  int line = 1;
  for (const TFieldRow& r : rows) {
    *r.check = MakeCheck(side, r.checkName, r.caption);
    *r.combo = r.limit < 0 ? MakeGenreList(side, r.comboName, r.limit == -2)
                           : MakeCombo(side, r.comboName, r.limit);
    grid->addWidget(*r.check, line, 0);
    grid->addWidget(*r.combo, line, 1);
    ++line;
  }
  return line;
}

// A tags apply as the window's last change.
class TTagsWindowUndo : public lb::TWindowUndo {
 public:
  explicit TTagsWindowUndo(std::unique_ptr<TTagsUndo> undo) : m_Undo(std::move(undo)) {}
  TTagsUndo* Undo() const { return m_Undo.get(); }
  QString Text() const override { return QString::fromUtf8(kUndoText); }
  bool Available(IDocumentWindow& window) override { return m_Undo->Available(window.Document()); }
  bool FilesUnchanged(IDocumentWindow&) override { return m_Undo->FilesUnchanged(); }
  void Run(IDocumentWindow& window) override {
    auto* rows = dynamic_cast<IWorkerDocumentWindow*>(&window);
    m_Undo->Run(window.Document(), [rows](int n) {
      if (rows) rows->RedrawSongs(n, n);
    });
  }

 private:
  std::unique_ptr<TTagsUndo> m_Undo;
};

}  // namespace

// ---------------------------------------------------------------------------------
// Construction

TNewTagsEditDlg::TNewTagsEditDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("NewTagsEditDlg");
  setWindowTitle(QString::fromUtf8("Редактор тэгов"));
  setProperty("helpContext", kHelpContext);
  auto* root = new QVBoxLayout(this);
  root->addLayout(BuildPathRow());
  auto* sides = new QHBoxLayout;
  sides->addWidget(BuildSide1());
  sides->addWidget(BuildSide2());
  Cover = new TCoverView(this);
  sides->addWidget(Cover, 0, Qt::AlignTop);
  root->addLayout(sides);
  root->addLayout(BuildCopies());
  root->addWidget(BuildExtraction());
  root->addLayout(BuildButtons());
  ConnectControls();
}

QLayout* TNewTagsEditDlg::BuildPathRow() {
  auto* pathRow = new QHBoxLayout;
  LabelPath = new QLabel(QString::fromUtf8("Путь файла:"), this);
  EditPath = new QLineEdit(this);
  EditPath->setObjectName("EditPath");
  EditPath->setReadOnly(true);
  pathRow->addWidget(LabelPath);
  pathRow->addWidget(EditPath, 1);
  return pathRow;
}

QWidget* TNewTagsEditDlg::BuildSide1() {
  auto* side1 = new QGroupBox(this);
  auto* grid1 = new QGridLayout(side1);
  CheckBox1 = MakeCheck(side1, "CheckBox1", "ID3v1");
  grid1->addWidget(CheckBox1, 0, 0, 1, 2);
  const TFieldRow rows1[] = {
      {&CheckBoxName1, "CheckBoxName1", "Название:", &ComboBoxName1, "ComboBoxName1", 30},
      {&CheckBoxArtist1, "CheckBoxArtist1", "Исполнитель:", &ComboBoxArtist1, "ComboBoxArtist1",
       30},
      {&CheckBoxAlbum1, "CheckBoxAlbum1", "Альбом:", &ComboBoxAlbum1, "ComboBoxAlbum1", 30},
      {&CheckBoxYear1, "CheckBoxYear1", "Год:", &ComboBoxYear1, "ComboBoxYear1", 4},
      {&CheckBoxComment1, "CheckBoxComment1", "Комментарий:", &ComboBoxComment1, "ComboBoxComment1",
       30},
      {&CheckBoxGenre1, "CheckBoxGenre1", "Жанр:", &ComboBoxGenre1, "ComboBoxGenre1", -1},
  };
  const int line = AddFieldRows(side1, grid1, rows1);
  grid1->setRowStretch(line, 1);
  return side1;
}

QWidget* TNewTagsEditDlg::BuildSide2() {
  auto* side2 = new QGroupBox(this);
  auto* grid2 = new QGridLayout(side2);
  CheckBox2 = MakeCheck(side2, "CheckBox2", "ID3v2");
  grid2->addWidget(CheckBox2, 0, 0, 1, 2);
  const TFieldRow rows2[] = {
      {&CheckBoxName2, "CheckBoxName2", "Название:", &ComboBoxName2, "ComboBoxName2", 0},
      {&CheckBoxArtist2, "CheckBoxArtist2", "Исполнитель:", &ComboBoxArtist2, "ComboBoxArtist2", 0},
      {&CheckBoxAlbum2, "CheckBoxAlbum2", "Альбом:", &ComboBoxAlbum2, "ComboBoxAlbum2", 0},
      {&CheckBoxYear2, "CheckBoxYear2", "Год:", &ComboBoxYear2, "ComboBoxYear2", 0},
      {&CheckBoxGenre2, "CheckBoxGenre2", "Жанр:", &ComboBoxGenre2, "ComboBoxGenre2", -2},
      {&CheckBoxComposer2, "CheckBoxComposer2", "Композитор:", &ComboBoxComposer2,
       "ComboBoxComposer2", 0},
      {&CheckBoxOrigArtist2, "CheckBoxOrigArtist2", "Ориг. Исполнитель:", &ComboBoxOrigArtist2,
       "ComboBoxOrigArtist2", 0},
      {&CheckBoxCopyright2, "CheckBoxCopyright2", "Авторские права:", &ComboBoxCopyright2,
       "ComboBoxCopyright2", 0},
      {&CheckBoxURL2, "CheckBoxURL2", "URL:", &ComboBoxURL2, "ComboBoxURL2", 0},
      {&CheckBoxEncodedBy2, "CheckBoxEncodedBy2", "Кем кодирован:", &ComboBoxEncodedBy2,
       "ComboBoxEncodedBy2", 0},
  };
  int line = AddFieldRows(side2, grid2, rows2);
  CheckBoxTrack2 = MakeCheck(side2, "CheckBoxTrack2", "Номер дорожки:");
  EditTrack2 = new QLineEdit(side2);
  EditTrack2->setObjectName("EditTrack2");
  PaintDisabledAsFace(EditTrack2);
  grid2->addWidget(CheckBoxTrack2, line, 0);
  grid2->addWidget(EditTrack2, line, 1);
  ++line;
  CheckBoxComment2 = MakeCheck(side2, "CheckBoxComment2", "Комментарий:");
  MemoComment2 = new QPlainTextEdit(side2);
  MemoComment2->setObjectName("MemoComment2");
  MemoComment2->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoComment2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoComment2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoComment2->setMaximumHeight(90);
  PaintDisabledAsFace(MemoComment2);
  grid2->addWidget(CheckBoxComment2, line, 0, Qt::AlignTop);
  grid2->addWidget(MemoComment2, line, 1);
  return side2;
}

QLayout* TNewTagsEditDlg::BuildCopies() {
  auto* copies = new QHBoxLayout;
  CheckBoxv2v1 = MakeCheck(this, "CheckBoxv2v1", "v2 -> v1");
  Btnv2v1 = new QPushButton("v2 -> v1", this);
  Btnv2v1->setObjectName("Btnv2v1");
  CheckBoxv1v2 = MakeCheck(this, "CheckBoxv1v2", "v1 -> v2");
  Btnv1v2 = new QPushButton("v1 -> v2", this);
  Btnv1v2->setObjectName("Btnv1v2");
  Btnv2v1->setEnabled(false);
  Btnv1v2->setEnabled(false);
  for (QWidget* w : {static_cast<QWidget*>(CheckBoxv2v1), static_cast<QWidget*>(Btnv2v1),
                     static_cast<QWidget*>(CheckBoxv1v2), static_cast<QWidget*>(Btnv1v2)})
    copies->addWidget(w);
  copies->addStretch(1);
  return copies;
}

QWidget* TNewTagsEditDlg::BuildExtraction() {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  auto* extract = new QGridLayout(GroupBox1);
  auto* about = new QLabel(
      QString::fromUtf8("С помощью этого мастера можно извлечь из пути файла название композиции и "
                        "исполнителя."),
      GroupBox1);
  about->setWordWrap(true);
  extract->addWidget(about, 0, 0, 1, 4);
  extract->addWidget(new QLabel(QString::fromUtf8("Куда:"), GroupBox1), 1, 0);
  CheckBox3 = MakeCheck(GroupBox1, "CheckBox3", "ID3v1");
  CheckBox4 = MakeCheck(GroupBox1, "CheckBox4", "ID3v2");
  extract->addWidget(CheckBox3, 1, 1);
  extract->addWidget(CheckBox4, 1, 2);
  extract->addWidget(new QLabel(QString::fromUtf8("Разделяющие символы:"), GroupBox1), 2, 0);
  EditSymbols = new QLineEdit(GroupBox1);
  EditSymbols->setObjectName("EditSymbols");
  PaintDisabledAsFace(EditSymbols);
  extract->addWidget(EditSymbols, 2, 1, 1, 2);
  CheckBox5 = MakeCheck(GroupBox1, "CheckBox5", "");
  Label4 = new QLabel(QString::fromUtf8("Если разделяющие символы в имени\n"
                                        "файла не найдены, всё имя файла\n"
                                        "(без расширения) записывается\n"
                                        "в поле названия композиции"),
                      GroupBox1);
  Label4->setBuddy(CheckBox5);
  auto* wholeName = new QHBoxLayout;
  wholeName->addWidget(CheckBox5, 0, Qt::AlignTop);
  wholeName->addWidget(Label4, 1);
  extract->addLayout(wholeName, 3, 0, 1, 3);
  BtnExtract = new QPushButton(QString::fromUtf8("Извлечь"), GroupBox1);
  BtnExtract->setObjectName("BtnExtract");
  BtnExtract->setEnabled(false);
  extract->addWidget(BtnExtract, 3, 3, Qt::AlignBottom);
  return GroupBox1;
}

QLayout* TNewTagsEditDlg::BuildButtons() {
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  OKBtn = new QPushButton(QString::fromUtf8("Да"), this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QString::fromUtf8("Отмена"), this);
  CancelBtn->setObjectName("CancelBtn");
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  return buttons;
}

void TNewTagsEditDlg::ConnectControls() {
  connect(OKBtn, &QPushButton::clicked, this, &TNewTagsEditDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(Btnv1v2, &QPushButton::clicked, this, &TNewTagsEditDlg::Btnv1v2Click);
  connect(Btnv2v1, &QPushButton::clicked, this, &TNewTagsEditDlg::Btnv2v1Click);
  connect(BtnExtract, &QPushButton::clicked, this, &TNewTagsEditDlg::BtnExtractClick);
  connect(CheckBoxv2v1, &QCheckBox::clicked, this, &TNewTagsEditDlg::CheckBoxv2v1Click);
  connect(CheckBoxv1v2, &QCheckBox::clicked, this, &TNewTagsEditDlg::CheckBoxv1v2Click);
  connect(CheckBox3, &QCheckBox::clicked, this, &TNewTagsEditDlg::TargetClick);
  connect(CheckBox4, &QCheckBox::clicked, this, &TNewTagsEditDlg::TargetClick);
  for (QCheckBox* box : findChildren<QCheckBox*>())
    connect(box, &QCheckBox::stateChanged, this, &TNewTagsEditDlg::UpdateEnabling);
  for (QComboBox* box : {ComboBoxName1, ComboBoxArtist1, ComboBoxAlbum1, ComboBoxComment1})
    connect(box, &QComboBox::editTextChanged, this, [box] { MarkLossy(box); });
}

TNewTagsEditDlg::~TNewTagsEditDlg() = default;

IWorkerDocumentWindow* TNewTagsEditDlg::Rows() const {
  auto* rows = dynamic_cast<IWorkerDocumentWindow*>(m_Child);
  LB_ASSERT(rows);
  return rows;
}

std::vector<int> TNewTagsEditDlg::SelectedRows() const {
  IWorkerDocumentWindow* rows = Rows();
  std::vector<int> selected;
  const int first = rows->SelectedIndex();
  if (first < 0) return selected;
  const int count = rows->SongCount();
  for (int n = first; n < count; ++n)
    if (rows->IsSelected(n)) selected.push_back(n);
  return selected;
}

void TNewTagsEditDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TNewTagsEditDlg::keyPressEvent(QKeyEvent* event) {
  // Enter in the multi-line comment starts a new line instead of pressing OK.
  if (MemoComment2->hasFocus() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
    return;
  QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------
// Showing

void TNewTagsEditDlg::FormShow() {
  if (m_bPrepared) return;
  m_bPrepared = true;
  LB_ASSERT(m_Child);
  LB_ASSERT(Rows()->SelectedCount());
  m_bSingle = Rows()->SelectedCount() == 1;
  m_bTag1Possible = AnyCarriesTag1();
  EditSymbols->setText(ReadSeparator());
  if (!m_bSingle) {
    Cover->Start(TCover{}, true);
    for (QCheckBox* master : {CheckBox1, CheckBox2}) {
      master->setTristate(true);
      master->setCheckState(Qt::PartiallyChecked);
    }
    TIniFile ini(lb::SettingsFilePath());
    if (ini.ReadBool("Settings", "EOTGenerateExtInf", true)) FillLists();
  } else {
    ShowSong();
  }
  TargetClick();
  UpdateEnabling();
}

bool TNewTagsEditDlg::AnyCarriesTag1() const {
  TSlDocument& document = m_Child->Document();
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  for (int row : SelectedRows())
    if (row < document.m_Songs.size() && lb::CarriesTag1(document.m_Songs[row].GetPath(true)))
      return true;
  return false;
}

void TNewTagsEditDlg::FillLists() {
  TBusyCursor busy;
  TSlDocument& document = m_Child->Document();
  TInfoWindowLevel level(QString::fromUtf8(kFillAction), document.GetTitle(), true);
  QComboBox* const boxes[14] = {
      ComboBoxName1,       ComboBoxArtist1,    ComboBoxAlbum1, ComboBoxYear1,     ComboBoxComment1,
      ComboBoxName2,       ComboBoxArtist2,    ComboBoxAlbum2, ComboBoxYear2,     ComboBoxComposer2,
      ComboBoxOrigArtist2, ComboBoxCopyright2, ComboBoxURL2,   ComboBoxEncodedBy2};
  QStringList lists[14];
  const std::vector<int> rows = SelectedRows();
  int done = 0;
  for (int row : rows) {
    {
      std::lock_guard<std::recursive_mutex> docLock(document.m_Lock);
      if (row >= document.m_Songs.size()) break;
      const TSlSong& song = document.m_Songs[row];
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      const TSlTag1& t1 = song.m_Tag1;
      const TSlTag2& t2 = song.m_Tag2;
      const QString values[14] = {t1.GetTitle(),   t1.GetArtist(), t1.GetAlbum(), t1.GetYear(),
                                  t1.GetComment(), t2.Title,       t2.Artist,     t2.Album,
                                  t2.Year,         t2.Composer,    t2.OrigArt,    t2.Copyright,
                                  t2.URL,          t2.EncodedBy};
      for (int i = 0; i < 14; ++i) InsertChoice(lists[i], TrimRight(values[i]));
    }
    if (++done % 64 == 0) {
      InfoWindowManager().SetProgress(done * 100 / int(rows.size()));
      if (InfoWindowManager().ProcessAndCheckStop()) break;
    }
  }
  for (int i = 0; i < 14; ++i) {
    boxes[i]->addItems(lists[i]);
    boxes[i]->setCurrentIndex(-1);
    boxes[i]->setEditText(QString());
  }
}

void TNewTagsEditDlg::ShowSong() {
  TSlDocument& document = m_Child->Document();
  TSlSong* pSong;
  {
    std::lock_guard<std::recursive_mutex> docLock(document.m_Lock);
    pSong = &document.m_Songs[Rows()->SelectedIndex()];
  }
  TSlSong& song = *pSong;
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  const QString path = song.GetPath(true);
  const lb::TSongFile file = lb::SongFileOf(path);
  EditPath->setText(file == lb::TSongFile::Present  ? path
                    : file == lb::TSongFile::Stream ? path + QString::fromUtf8(kStreamAddress)
                                                    : path + QString::fromUtf8(kMissingFile));
  song.m_Tag1.SyncWithFile(false);
  song.m_Tag2.SyncWithFile(false);
  CommitPendingAge(song);
  // A data file keeps the genre and track as numbers: their texts ("Post-rock", "3/10")
  // come from the file itself.
  TSlTag2& tag2 = song.m_Tag2;
  const bool bPresent = file == lb::TSongFile::Present;
  if (tag2.bTagSync && tag2.m_bExists && bPresent) tag2.ReadFromFile();
  // The picture is read now, when it is shown, never by the synchronisation.
  TCover cover;
  if (bPresent && lb::IsTaggedPath(path)) ReadCover(path, &cover);
  Cover->Start(cover, false, path);

  const TSlTag1& t1 = song.m_Tag1;
  CheckBox1->setChecked(t1.m_bExists);
  ComboBoxName1->setEditText(TrimRight(t1.GetTitle()));
  ComboBoxArtist1->setEditText(TrimRight(t1.GetArtist()));
  ComboBoxAlbum1->setEditText(TrimRight(t1.GetAlbum()));
  ComboBoxYear1->setEditText(TrimRight(t1.GetYear()));
  ComboBoxComment1->setEditText(TrimRight(t1.GetComment()));
  const int p1 = PositionOfGenre(t1.Genre);
  ComboBoxGenre1->setCurrentIndex(std::max(p1, 0));
  m_UnknownGenre1 = p1 < 0 ? t1.Genre : -1;

  const TSlTag2& t2 = song.m_Tag2;
  CheckBox2->setChecked(t2.m_bExists);
  // The kind of the file's main tag, which the ID3v2 side edits ("Тэг: Vorbis comment").
  CheckBox2->setToolTip(lb::ColumnToolTip(song, lb::ckName2));
  ComboBoxName2->setEditText(t2.Title);
  ComboBoxArtist2->setEditText(t2.Artist);
  ComboBoxAlbum2->setEditText(t2.Album);
  ComboBoxYear2->setEditText(t2.Year);
  ComboBoxComposer2->setEditText(t2.Composer);
  ComboBoxOrigArtist2->setEditText(t2.OrigArt);
  ComboBoxCopyright2->setEditText(t2.Copyright);
  ComboBoxURL2->setEditText(t2.URL);
  ComboBoxEncodedBy2->setEditText(t2.EncodedBy);
  ComboBoxGenre2->setCurrentIndex(std::max(PositionOfGenre(t2.Genre), 0));
  if (t2.Genre == lb::kGenreOutsideTable) ComboBoxGenre2->setEditText(t2.GenreText);
  EditTrack2->setText(!t2.TrackText.isEmpty() ? t2.TrackText
                      : t2.Track > 0          ? QString::number(t2.Track)
                                              : QString());
  MemoComment2->setPlainText(t2.Comment);

  Btnv2v1->setEnabled(true);
  Btnv1v2->setEnabled(true);
  CheckBoxv2v1->setEnabled(false);
  CheckBoxv1v2->setEnabled(false);
  // Long texts show their start (a text set puts the cursor, and the view, at its end).
  for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->setCursorPosition(0);
}

// ---------------------------------------------------------------------------------
// Enabling rules

void TNewTagsEditDlg::UpdateEnabling() {
  CheckBox1->setEnabled(m_bTag1Possible);
  const bool on1 = m_bTag1Possible && NotUnticked(CheckBox1);
  const bool on2 = NotUnticked(CheckBox2);
  const bool batch = !m_bSingle;
  const bool v2v1 = CheckBoxv2v1->isChecked();
  const bool v1v2 = CheckBoxv1v2->isChecked();

  struct Pair {
    QCheckBox* check;
    QWidget* edit;
    bool extracted;  // title and artist: their change box waits while extraction is on
    bool copied;     // filled by the copy into this version
  };
  const Pair pairs1[] = {{CheckBoxName1, ComboBoxName1, true, true},
                         {CheckBoxArtist1, ComboBoxArtist1, true, true},
                         {CheckBoxAlbum1, ComboBoxAlbum1, false, true},
                         {CheckBoxYear1, ComboBoxYear1, false, true},
                         {CheckBoxComment1, ComboBoxComment1, false, true},
                         {CheckBoxGenre1, ComboBoxGenre1, false, true}};
  for (const Pair& p : pairs1) {
    p.check->setEnabled(batch && on1 && !(p.extracted && CheckBox3->isChecked()));
    p.edit->setEnabled((p.check->isChecked() || m_bSingle) && on1 && !v2v1);
  }
  const Pair pairs2[] = {{CheckBoxName2, ComboBoxName2, true, true},
                         {CheckBoxArtist2, ComboBoxArtist2, true, true},
                         {CheckBoxAlbum2, ComboBoxAlbum2, false, true},
                         {CheckBoxYear2, ComboBoxYear2, false, true},
                         {CheckBoxGenre2, ComboBoxGenre2, false, true},
                         {CheckBoxComment2, MemoComment2, false, true},
                         {CheckBoxComposer2, ComboBoxComposer2, false, false},
                         {CheckBoxOrigArtist2, ComboBoxOrigArtist2, false, false},
                         {CheckBoxCopyright2, ComboBoxCopyright2, false, false},
                         {CheckBoxURL2, ComboBoxURL2, false, false},
                         {CheckBoxEncodedBy2, ComboBoxEncodedBy2, false, false},
                         {CheckBoxTrack2, EditTrack2, false, false}};
  for (const Pair& p : pairs2) {
    p.check->setEnabled(batch && on2 && !(p.extracted && CheckBox4->isChecked()));
    p.edit->setEnabled((p.check->isChecked() || m_bSingle) && on2 && !(p.copied && v1v2));
  }

  const bool target = CheckBox3->isChecked() || CheckBox4->isChecked();
  EditSymbols->setEnabled(target);
  CheckBox5->setEnabled(target);
  BtnExtract->setEnabled(target && m_bSingle);
  if (m_bSingle) {
    Btnv1v2->setEnabled(m_bTag1Possible && CheckBox1->isChecked());
    Btnv2v1->setEnabled(m_bTag1Possible && CheckBox2->isChecked());
    CheckBox3->setEnabled(m_bTag1Possible);
  } else {
    CheckBoxv2v1->setEnabled(m_bTag1Possible);
    CheckBoxv1v2->setEnabled(m_bTag1Possible);
    CheckBox3->setEnabled(m_bTag1Possible && !v2v1);
    CheckBox4->setEnabled(!v1v2);
  }
}

void TNewTagsEditDlg::CheckBoxv2v1Click(bool checked) {
  if (checked) {
    CheckBoxv1v2->setChecked(false);
    if (!m_bSingle) {
      CheckBox1->setCheckState(Qt::Checked);
      for (QCheckBox* box : {CheckBoxName1, CheckBoxArtist1, CheckBoxAlbum1, CheckBoxYear1,
                             CheckBoxComment1, CheckBoxGenre1})
        box->setChecked(true);
    }
  }
  UpdateEnabling();
}

void TNewTagsEditDlg::CheckBoxv1v2Click(bool checked) {
  if (checked) {
    CheckBoxv2v1->setChecked(false);
    if (!m_bSingle) {
      CheckBox2->setCheckState(Qt::Checked);
      for (QCheckBox* box : {CheckBoxName2, CheckBoxArtist2, CheckBoxAlbum2, CheckBoxYear2,
                             CheckBoxGenre2, CheckBoxComment2})
        box->setChecked(true);
    }
  }
  UpdateEnabling();
}

void TNewTagsEditDlg::TargetClick() {
  if (!m_bSingle) {
    if (CheckBox3->isChecked()) CheckBox1->setCheckState(Qt::Checked);
    if (CheckBox4->isChecked()) CheckBox2->setCheckState(Qt::Checked);
  }
  UpdateEnabling();
}

// ---------------------------------------------------------------------------------
// Buttons

void TNewTagsEditDlg::Btnv1v2Click() {
  if (!CheckBox1->isChecked()) return;
  CheckBox2->setChecked(true);
  ComboBoxName2->setEditText(ComboBoxName1->currentText());
  ComboBoxArtist2->setEditText(ComboBoxArtist1->currentText());
  ComboBoxAlbum2->setEditText(ComboBoxAlbum1->currentText());
  ComboBoxYear2->setEditText(ComboBoxYear1->currentText());
  ComboBoxGenre2->setCurrentIndex(ComboBoxGenre1->currentIndex());
  MemoComment2->setPlainText(ComboBoxComment1->currentText());
}

void TNewTagsEditDlg::Btnv2v1Click() {
  if (!CheckBox2->isChecked()) return;
  CheckBox1->setChecked(true);
  ComboBoxName1->setEditText(ComboBoxName2->currentText().left(TSlTag1::kTextWidth));
  ComboBoxArtist1->setEditText(ComboBoxArtist2->currentText().left(TSlTag1::kTextWidth));
  ComboBoxAlbum1->setEditText(ComboBoxAlbum2->currentText().left(TSlTag1::kTextWidth));
  ComboBoxYear1->setEditText(ComboBoxYear2->currentText().left(TSlTag1::kYearWidth));
  // A typed genre the table lacks has no ID3v1 number.
  ComboBoxGenre1->setCurrentIndex(
      std::max(PositionOfGenre(lb::GenreNumber(ComboBoxGenre2->currentText())), 0));
  m_UnknownGenre1 = -1;
  ComboBoxComment1->setEditText(CommentForTag1(MemoComment2->toPlainText()));
}

void TNewTagsEditDlg::BtnExtractClick() {
  TSlDocument& document = m_Child->Document();
  QString path;
  {
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    path = document.m_Songs[Rows()->SelectedIndex()].GetPath(true);
  }
  const TNameParts parts = ExtractFromPath(path, EditSymbols->text());
  if (!parts.bFound && !CheckBox5->isChecked()) return;
  if (CheckBox3->isChecked()) {
    CheckBox1->setChecked(true);
    ComboBoxName1->setEditText(parts.title.left(TSlTag1::kTextWidth));
    ComboBoxArtist1->setEditText(parts.artist.left(TSlTag1::kTextWidth));
  }
  if (CheckBox4->isChecked()) {
    CheckBox2->setChecked(true);
    ComboBoxName2->setEditText(parts.title);
    ComboBoxArtist2->setEditText(parts.artist);
  }
}

// ---------------------------------------------------------------------------------
// Apply

int TNewTagsEditDlg::GenreValue(QComboBox* box, int unknown) const {
  const int position = box->currentIndex();
  if (position <= 0 && unknown >= 0) return unknown;
  return GenreAtPosition(position);
}

TTagsEditRequest TNewTagsEditDlg::Request() const {
  TTagsEditRequest r;
  r.master1 = MasterOf(CheckBox1);
  r.master2 = MasterOf(CheckBox2);
  QCheckBox* const checks1[f1Count] = {CheckBoxName1, CheckBoxArtist1,  CheckBoxAlbum1,
                                       CheckBoxYear1, CheckBoxComment1, CheckBoxGenre1};
  QComboBox* const combos1[f1Count] = {ComboBoxName1, ComboBoxArtist1,  ComboBoxAlbum1,
                                       ComboBoxYear1, ComboBoxComment1, nullptr};
  for (int f = 0; f < f1Count; ++f) {
    r.change1[f] = m_bSingle || checks1[f]->isChecked();
    if (combos1[f]) r.value1[f] = combos1[f]->currentText();
  }
  r.value1[f1Genre] = QString::number(GenreValue(ComboBoxGenre1, m_UnknownGenre1));
  QCheckBox* const checks2[f2Count] = {CheckBoxName2,     CheckBoxArtist2,     CheckBoxAlbum2,
                                       CheckBoxYear2,     CheckBoxGenre2,      CheckBoxComment2,
                                       CheckBoxComposer2, CheckBoxOrigArtist2, CheckBoxCopyright2,
                                       CheckBoxURL2,      CheckBoxEncodedBy2,  CheckBoxTrack2};
  QComboBox* const combos2[f2Count] = {ComboBoxName2,
                                       ComboBoxArtist2,
                                       ComboBoxAlbum2,
                                       ComboBoxYear2,
                                       nullptr,
                                       nullptr,
                                       ComboBoxComposer2,
                                       ComboBoxOrigArtist2,
                                       ComboBoxCopyright2,
                                       ComboBoxURL2,
                                       ComboBoxEncodedBy2,
                                       nullptr};
  for (int f = 0; f < f2Count; ++f) {
    r.change2[f] = m_bSingle || checks2[f]->isChecked();
    if (combos2[f]) r.value2[f] = combos2[f]->currentText();
  }
  r.value2[f2Genre] = ComboBoxGenre2->currentText();
  r.value2[f2Comment] = MemoComment2->toPlainText();
  r.value2[f2Track] = EditTrack2->text();
  r.cover = Cover->Edit().Request();
  if (!m_bSingle) {
    r.bV2ToV1 = CheckBoxv2v1->isChecked();
    r.bV1ToV2 = CheckBoxv1v2->isChecked();
    // A target the copy into its version has disabled takes no part.
    r.bExtract1 = CheckBox3->isChecked() && CheckBox3->isEnabled();
    r.bExtract2 = CheckBox4->isChecked() && CheckBox4->isEnabled();
    r.separator = EditSymbols->text();
    r.bWholeName = CheckBox5->isChecked();
  }
  return r;
}

bool TNewTagsEditDlg::Apply() {
  TSlDocument& document = m_Child->Document();
  IWorkerDocumentWindow* rows = Rows();
  if (m_bSingle) {
    const int row = rows->SelectedIndex();
    TSlSong* song;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      song = &document.m_Songs[row];
    }
    auto undo = std::make_unique<TTagsUndo>();
    const bool ok = ApplySingle(*song, Request(), undo.get());
    rows->RedrawSongs(row, row);
    StoreUndo(std::move(undo));
    return ok;
  }
  TTagsBatchApply batch(document, SelectedRows(), Request());
  batch.redraw = [rows](int n) { rows->RedrawSongs(n, n); };
  if (!batch.Run()) return false;
  StoreUndo(std::move(batch.undo));
  return true;
}

void TNewTagsEditDlg::StoreUndo(std::unique_ptr<TTagsUndo> undo) {
  if (!undo->Empty()) SetWindowUndo(m_Child, std::move(undo));
}

void TNewTagsEditDlg::OKBtnClick() {
  if (!Apply()) return;
  WriteSeparator(EditSymbols->text());
  accept();
}

// ---------------------------------------------------------------------------------
// Undo kept with the window

namespace lbtags {

TTagsUndo* WindowUndo(IDocumentWindow* window) {
  auto* change = dynamic_cast<TTagsWindowUndo*>(lb::LastChange(window));
  return change ? change->Undo() : nullptr;
}

void SetWindowUndo(IDocumentWindow* window, std::unique_ptr<TTagsUndo> undo) {
  lb::SetLastChange(window, undo ? std::make_unique<TTagsWindowUndo>(std::move(undo)) : nullptr);
}

}  // namespace lbtags
