// The tags editor dialog with real widgets: the enabling rules of both modes, the copy
// and extract buttons, OK in both modes, the separator kept in the settings, and undo.
#include "TagsTestUtil.h"

#include "id3com/Mp3Files.h"

#include "lbtools3/ui/WindowUndo.h"
#include "lbtools3/model/WorkerThread.h"
#include "lbtools3/tags/CoverView.h"
#include "lbtools3/tags/TagsEditorDialog.h"
#include "NullDocumentWindow.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <gtest/gtest.h>

using tagstest::FileTags;

namespace {

// A document window as the dialog sees it: a document and a set of selected rows.
class FakeWindow : public QObject, public lbtest::NullDocumentWindow, public IWorkerDocumentWindow {
 public:
  QSet<int> selected;
  QList<int> redrawn;

  int SelectedIndex() override {
    for (int n = 0; n < m_Document.m_Songs.size(); ++n)
      if (selected.contains(n)) return n;
    return -1;
  }
  int SelectedCount() override { return int(selected.size()); }
  int SongCount() override { return m_Document.m_Songs.size(); }
  bool IsSelected(int n) override { return selected.contains(n); }
  void RedrawSongs(int nFirst, int) override { redrawn << nFirst; }
};

class TagsDlgGuiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }

  void Open(const QStringList& paths, QSet<int> rows) {
    tagstest::FillSynced(window.m_Document, dir, paths);
    window.selected = rows;
    dialog.m_Child = &window;
    dialog.FormShow();
  }

  QString dir = lbtest::NewTempDir();
  ScriptedUiServices ui;
  FakeWindow window;
  TNewTagsEditDlg dialog;
};

TEST_F(TagsDlgGuiTest, BatchModeEnablingRulesAndFilledLists) {
  Open({tagstest::MakeTagged(dir + "/1.mp3", "Бета", "Б"),
        tagstest::MakeTagged(dir + "/2.mp3", "Не выбрана", "Н"),
        tagstest::MakeTagged(dir + "/3.mp3", "Альфа", "Б")},
       {0, 2});
  EXPECT_FALSE(dialog.m_bSingle);
  EXPECT_EQ(dialog.CheckBox1->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(dialog.CheckBox2->checkState(), Qt::PartiallyChecked);
  ASSERT_EQ(dialog.ComboBoxName1->count(), 2);
  EXPECT_EQ(dialog.ComboBoxName1->itemText(0), "Альфа");
  EXPECT_EQ(dialog.ComboBoxArtist2->count(), 1);
  EXPECT_TRUE(dialog.ComboBoxName1->currentText().isEmpty());
  EXPECT_EQ(ui.Progress().at(0).action, TNewTagsEditDlg::kFillAction);

  EXPECT_TRUE(dialog.CheckBoxName1->isEnabled());
  EXPECT_FALSE(dialog.ComboBoxName1->isEnabled());
  dialog.CheckBoxName1->setChecked(true);
  EXPECT_TRUE(dialog.ComboBoxName1->isEnabled());
  dialog.CheckBox1->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(dialog.CheckBoxName1->isEnabled());
  EXPECT_FALSE(dialog.ComboBoxName1->isEnabled());

  dialog.CheckBoxv2v1->click();
  EXPECT_EQ(dialog.CheckBox1->checkState(), Qt::Checked);
  EXPECT_TRUE(dialog.CheckBoxGenre1->isChecked());
  EXPECT_FALSE(dialog.ComboBoxGenre1->isEnabled());
  EXPECT_FALSE(dialog.CheckBox3->isEnabled());
  dialog.CheckBoxv1v2->click();
  EXPECT_FALSE(dialog.CheckBoxv2v1->isChecked());
  EXPECT_TRUE(dialog.CheckBox3->isEnabled());
  EXPECT_FALSE(dialog.CheckBox4->isEnabled());
  EXPECT_FALSE(dialog.MemoComment2->isEnabled());
  EXPECT_FALSE(dialog.ComboBoxComposer2->isEnabled());
  dialog.CheckBoxComposer2->setChecked(true);
  EXPECT_TRUE(dialog.ComboBoxComposer2->isEnabled());

  EXPECT_FALSE(dialog.EditSymbols->isEnabled());
  dialog.CheckBox3->click();
  EXPECT_FALSE(dialog.CheckBoxName1->isEnabled());
  EXPECT_FALSE(dialog.CheckBoxArtist1->isEnabled());
  EXPECT_TRUE(dialog.CheckBoxAlbum1->isEnabled());
  EXPECT_TRUE(dialog.EditSymbols->isEnabled());
  EXPECT_TRUE(dialog.CheckBox5->isEnabled());
  EXPECT_FALSE(dialog.BtnExtract->isEnabled());
}

TEST_F(TagsDlgGuiTest, BatchOkWithNothingTickedWritesBackAndCreatesNothing) {
  const QString tagged = tagstest::MakeTagged(dir + "/t.mp3", "Есть", "Я");
  const QString bare = tagstest::MakeTagged(dir + "/b.mp3", "", "");
  Open({tagged, bare}, {0, 1});
  const QStringList frames = tagstest::MutagenFrames(tagged);
  const QByteArray bareBytes = lbtest::ReadFile(bare);
  dialog.OKBtn->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(tagstest::MutagenFrames(tagged), frames);
  EXPECT_TRUE(lbtest::ReadFile(bare) == bareBytes);
  EXPECT_EQ(window.redrawn, (QList<int>{0, 1}));
  EXPECT_FALSE(lb::CanUndoLastChange(&window));
}

TEST_F(TagsDlgGuiTest, SingleModeCopiesExtractsWritesAndUndoes) {
  const QString path = tagstest::MakeTagged(dir + "/Artist - Title.mp3", "Было", "Кто");
  Open({path, dir + "/gone.mp3"}, {0});
  EXPECT_TRUE(dialog.m_bSingle);
  EXPECT_EQ(dialog.EditPath->text(), path);
  EXPECT_FALSE(dialog.CheckBox1->isTristate());
  EXPECT_TRUE(dialog.CheckBox1->isChecked());
  EXPECT_EQ(dialog.ComboBoxName1->currentText(), "Было");
  EXPECT_EQ(dialog.EditTrack2->text(), "5");
  EXPECT_EQ(dialog.ComboBoxGenre2->currentText(), "Rock");
  EXPECT_FALSE(dialog.CheckBoxName1->isEnabled());
  EXPECT_TRUE(dialog.ComboBoxName1->isEnabled());
  EXPECT_FALSE(dialog.CheckBoxv2v1->isEnabled());
  EXPECT_TRUE(dialog.Btnv2v1->isEnabled());

  dialog.MemoComment2->setPlainText("ab\ncd");
  dialog.Btnv2v1->click();
  EXPECT_EQ(dialog.ComboBoxComment1->currentText(), "ab cd ");
  dialog.CheckBox2->setChecked(false);
  EXPECT_FALSE(dialog.Btnv2v1->isEnabled());
  dialog.CheckBox2->setChecked(true);

  dialog.EditSymbols->setText(" - ");
  dialog.CheckBox4->click();
  ASSERT_TRUE(dialog.BtnExtract->isEnabled());
  dialog.BtnExtract->click();
  EXPECT_EQ(dialog.ComboBoxName2->currentText(), "Title");
  EXPECT_EQ(dialog.ComboBoxArtist2->currentText(), "Artist");
  dialog.EditSymbols->setText("#");
  dialog.ComboBoxName2->setEditText("Своё");
  dialog.BtnExtract->click();
  EXPECT_EQ(dialog.ComboBoxName2->currentText(), "Своё");
  dialog.EditSymbols->setText(" - ");

  const QStringList frames = tagstest::MutagenFrames(path);
  const QByteArray tail = tagstest::Tail128(path);
  dialog.OKBtn->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(TIniFile(lb::SettingsFilePath()).ReadString("Edit", "SimbolsToCreateTag", ""),
            "202d20");
  const tagstest::FileTags written(path);
  EXPECT_EQ(written.song.m_Tag2.Title, "Своё");
  EXPECT_EQ(written.song.m_Tag2.Comment, "ab\ncd");
  EXPECT_EQ(written.song.m_Tag1.GetComment(), "ab cd");
  EXPECT_EQ(written.song.m_Tag2.Track, 5);

  ASSERT_TRUE(lb::CanUndoLastChange(&window));
  lb::UndoLastChange(&window);
  EXPECT_FALSE(lb::CanUndoLastChange(&window));
  EXPECT_EQ(tagstest::MutagenFrames(path), frames);
  EXPECT_TRUE(tagstest::Tail128(path) == tail);
}

TEST_F(TagsDlgGuiTest, SingleModeNamesAMissingFileAndKeepsTheDialogOpenOnABadTrack) {
  Open({dir + "/gone.mp3"}, {0});
  EXPECT_EQ(dialog.EditPath->text(), dir + "/gone.mp3 (файл отсутствует)");
  EXPECT_FALSE(dialog.CheckBox1->isChecked());
  dialog.CheckBox2->setChecked(true);
  dialog.EditTrack2->setText("99999999999");  // too large for a number: refused, no crash
  dialog.OKBtn->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(ui.Texts(), QStringList{lbtags::kTrackError});
}

// A tag another program wrote: a genre the table lacks and a "3/10" track.
QString ForeignTag(const QString& path) {
  modeltest::MakeMp3(path);
  const char* script = R"PY(
import sys
from mutagen.id3 import ID3, TIT2, TRCK, TCON
t = ID3()
t.add(TIT2(encoding=1, text="Чужой"))
t.add(TRCK(encoding=0, text="3/10"))
t.add(TCON(encoding=1, text="Post-rock"))
t.save(sys.argv[1], v2_version=3)
)PY";
  QProcess::execute("/usr/bin/python3", {"-c", script, path});
  return path;
}

QString FrameOf(const QString& path, const QString& id) {
  for (const QString& f : tagstest::MutagenFrames(path))
    if (f.startsWith(id + "=")) return f;
  return {};
}

TEST_F(TagsDlgGuiTest, SingleModeKeepsGenreTextsTrackPairsDatesAndOddID3v1Genres) {
  const QString path = ForeignTag(dir + "/f.mp3");
  {
    TSlSong song(nullptr, path, QString());
    song.m_Tag1.SetTitle("Чужой", false);
    song.m_Tag1.SetGenre(200);  // outside the table, as other players write
    ASSERT_TRUE(song.m_Tag1.WriteToFile(true));
  }
  const QString plain = dir + "/plain.mp3";
  {
    modeltest::MakeMp3(plain);
    TSlSong song(nullptr, plain, QString());
    song.m_Tag2.SetTitle("Без номера");
    ASSERT_TRUE(song.m_Tag2.WriteToFile(true));
  }
  Open({path, plain}, {0});
  EXPECT_EQ(dialog.ComboBoxGenre2->currentText(), "Post-rock");
  EXPECT_EQ(dialog.EditTrack2->text(), "3/10");
  dialog.ComboBoxYear2->setEditText("2001-05-06");
  dialog.OKBtn->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_TRUE(FrameOf(path, "TCON").contains("'Post-rock'"));
  EXPECT_TRUE(FrameOf(path, "TRCK").contains("'3/10'"));
  EXPECT_TRUE(FrameOf(path, "TDAT").contains("'0605'")) << FrameOf(path, "TDAT").toStdString();
  EXPECT_EQ(uint8_t(tagstest::Tail128(path).at(127)), 200);

  // Typed text is a genre (accented Latin letters too); an emptied box removes it.
  for (const QString& genre : {QString("Café"), QString()}) {
    TNewTagsEditDlg again;
    again.m_Child = &window;
    again.FormShow();
    again.ComboBoxGenre2->setEditText(genre);
    again.OKBtn->click();
    EXPECT_EQ(FileTags(path).song.m_Tag2.GenreText, genre);
  }
  // (mutagen would show the ID3v1 genre in place of a missing TCON)
  EXPECT_EQ(FileTags(path).song.m_Tag2.Genre, lb::kNoGenre);

  // A song without a track number shows an empty box.
  window.selected = {1};
  TNewTagsEditDlg other;
  other.m_Child = &window;
  other.FormShow();
  EXPECT_EQ(other.EditTrack2->text(), "");
}

TEST_F(TagsDlgGuiTest, SingleModeMarksLossyID3v1TextsAndTellsWhyAWriteFailed) {
  // A v2.4 tag with one broken frame size: it reads, but a rewrite is refused.
  QByteArray tag = lbtest::Id3v2(4, {{"TIT2", lbtest::TextBody("Title")},
                                     {"POPM", QByteArray("user\0\xC4\0\0\0\x03", 10)},
                                     {"TALB", lbtest::TextBody("Album")}});
  const qsizetype popm = tag.indexOf("POPM");
  tag.replace(popm + 4, 4, QByteArray("\0\0\x02\x11", 4));
  const QString path = dir + "/damaged.mp3";
  lbtest::WriteFile(path, tag + modeltest::Mp3Frames());
  Open({path}, {0});
  dialog.ComboBoxName1->setEditText("東京");
  EXPECT_TRUE(dialog.ComboBoxName1->property("lossy").toBool());
  dialog.ComboBoxName1->setEditText("Токио");
  EXPECT_FALSE(dialog.ComboBoxName1->property("lossy").toBool());

  dialog.ComboBoxName2->setEditText("New");
  dialog.OKBtn->click();
  ASSERT_EQ(ui.Texts().size(), 1);
  EXPECT_TRUE(ui.Texts()[0].startsWith(lbtags::kWrite2Error));
  EXPECT_TRUE(ui.Texts()[0].contains("повреждён")) << ui.Texts()[0].toStdString();
}

}  // namespace

// FLAC files (made by their encoder) have no ID3v1: the dialog offers neither its side,
// nor the copies, nor the extraction into it; the main tag is edited keeping its other
// keys and values; beside an MP3 file the batch puts the ID3v1 album into the MP3 alone.
TEST_F(TagsDlgGuiTest, FilesWithoutID3v1OfferNoID3v1SideAndKeepTheirOtherKeys) {
  auto run = [](const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
  };
  const QString wav = dir + "/source.wav";
  run("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", wav, "synth", "0.2", "sine", "440"});
  const QString flac = dir + "/2.flac", flac2 = dir + "/3.flac";
  run("flac", {"-s", "-o", flac, wav});
  const char* const dump = R"PY(
import sys, mutagen
f = mutagen.File(sys.argv[1])
if len(sys.argv) > 2:
    f["TITLE"] = ["Старое"]; f["ARTIST"] = ["Первый", "Второй"]; f["REPLAYGAIN_TRACK_GAIN"] = ["-6.50 dB"]
    f.save()
print(sorted(f.tags.items()), open(sys.argv[1], "rb").read(4))
)PY";
  run("/usr/bin/python3", {"-c", dump, flac, "tag"});
  QFile::copy(flac, flac2);
  const QString mp3 = tagstest::MakeTagged(dir + "/1.mp3", "Бета", "Б");
  Open({mp3, flac, flac2}, {1});

  ASSERT_TRUE(dialog.m_bSingle);
  EXPECT_FALSE(dialog.CheckBox1->isEnabled());
  EXPECT_FALSE(dialog.CheckBox1->isChecked());
  EXPECT_FALSE(dialog.ComboBoxName1->isEnabled());
  EXPECT_FALSE(dialog.Btnv2v1->isEnabled());
  EXPECT_FALSE(dialog.Btnv1v2->isEnabled());
  EXPECT_FALSE(dialog.CheckBox3->isEnabled());
  EXPECT_EQ(dialog.ComboBoxArtist2->currentText(), "Первый; Второй");
  EXPECT_EQ(dialog.CheckBox2->toolTip(), "Тэг: Vorbis comment");
  dialog.ComboBoxName2->setEditText("Новое");
  EXPECT_TRUE(dialog.Apply());
  EXPECT_TRUE(ui.Messages().isEmpty()) << ui.Texts().join("\n").toStdString();
  EXPECT_EQ(run("/usr/bin/python3", {"-c", dump, flac}),
            run("/usr/bin/python3", {"-c", dump, flac2}).replace("Старое", "Новое"));

  TNewTagsEditDlg flacs;
  window.selected = {1, 2};
  flacs.m_Child = &window;
  flacs.FormShow();
  EXPECT_FALSE(flacs.CheckBox1->isEnabled());
  EXPECT_FALSE(flacs.CheckBoxv2v1->isEnabled());
  EXPECT_FALSE(flacs.CheckBoxv1v2->isEnabled());
  EXPECT_FALSE(flacs.CheckBox3->isEnabled());

  TNewTagsEditDlg mixed;
  window.selected = {0, 2};
  mixed.m_Child = &window;
  mixed.FormShow();
  ASSERT_TRUE(mixed.CheckBox1->isEnabled());
  EXPECT_TRUE(mixed.CheckBoxv2v1->isEnabled());
  mixed.CheckBox1->setCheckState(Qt::Checked);
  mixed.CheckBoxAlbum1->setChecked(true);
  mixed.ComboBoxAlbum1->setEditText("Сборник");
  const QString before2 = run("/usr/bin/python3", {"-c", dump, flac2});
  EXPECT_TRUE(mixed.Apply());
  EXPECT_TRUE(ui.Messages().isEmpty()) << ui.Texts().join("\n").toStdString();
  EXPECT_EQ(FileTags(mp3).song.m_Tag1.GetAlbum(), "Сборник");
  EXPECT_EQ(run("/usr/bin/python3", {"-c", dump, flac2}), before2);
  EXPECT_FALSE(window.m_Document.m_Songs[2].m_Tag1.m_bExists);
}
namespace {

// The picture box: what it shows for a song with a cover and without one; a picture
// pasted (as another program's bytes), dropped or refused; OK writes it with the
// fields and undo gives the old one back.
TEST_F(TagsDlgGuiTest, TheCoverIsShownPastedDroppedRefusedWrittenOnOkAndUndone) {
  const QString path = tagstest::MakeTagged(dir + "/1.mp3", "Песня", "А");
  QImage image(60, 40, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  image.save(&buffer, "PNG");
  ASSERT_EQ(lbtags::WriteCover(path, png), "");
  Open({path}, {0});
  TCoverView* view = dialog.Cover;
  EXPECT_EQ(view->Caption->text(), lbtags::CoverCaption(60, 40, "image/png", png.size()));
  EXPECT_FALSE(view->Picture->pixmap().isNull());

  // Bytes that are no picture are refused with the message; the cover stays.
  QMimeData text;
  text.setData("image/png", "not a picture");
  view->PutFrom(&text);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, QString::fromUtf8(lbtags::kNotImage).arg("буфер обмена"));
  EXPECT_EQ(view->Edit().Shown().data, png);

  // Ctrl+V in the box takes the picture another program put on the clipboard.
  image.fill(Qt::blue);
  QByteArray blue;
  QBuffer blueBuffer(&blue);
  image.save(&blueBuffer, "PNG");
  auto* clip = new QMimeData;
  clip->setData("image/png", blue);
  QApplication::clipboard()->setMimeData(clip);
  QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
  QCoreApplication::sendEvent(view, &paste);
  EXPECT_EQ(view->Edit().Shown().data, blue);

  // A dropped file, the bytes as they are.
  const QByteArray jpeg = QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(100, 'j');
  lbtest::WriteFile(dir + "/new.jpg", jpeg);
  QMimeData drop;
  drop.setUrls({QUrl::fromLocalFile(dir + "/new.jpg")});
  view->PutFrom(&drop);
  EXPECT_EQ(view->Edit().Shown().data, jpeg);
  dialog.ComboBoxName2->setEditText("Новая");
  dialog.OKBtnClick();
  lbtags::TCover cover;
  ASSERT_TRUE(lbtags::ReadCover(path, &cover));
  EXPECT_EQ(cover.data, jpeg);
  EXPECT_EQ(FileTags(path).song.m_Tag2.Title, "Новая");

  lb::UndoLastChange(&window);
  ASSERT_TRUE(lbtags::ReadCover(path, &cover));
  EXPECT_EQ(cover.data, png);
  EXPECT_EQ(FileTags(path).song.m_Tag2.Title, "Песня");

  // Removed: the box says so.
  TNewTagsEditDlg again;
  again.m_Child = &window;
  again.FormShow();
  again.Cover->RemoveBtn->click();
  EXPECT_EQ(again.Cover->Caption->text(), QString::fromUtf8(lbtags::kNoCover));
  EXPECT_EQ(again.Request().cover.kind, lbtags::TCoverRequest::Remove);
}

}  // namespace

namespace {

// The menu asks whether the undo is there several times a second: the answer comes from
// the list alone (it holds while the file is away), and the file is read when the user
// asks for the undo; a cover another program put in since withdraws it, with a message,
// and stays.
TEST_F(TagsDlgGuiTest, TheMenuAsksTheListAloneAndAChangedFileWithdrawsTheUndoWhenAsked) {
  const QString path = tagstest::MakeTagged(dir + "/1.mp3", "Песня", "А");
  const QByteArray jpeg = QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(100, 'j');
  lbtest::WriteFile(dir + "/new.jpg", jpeg);
  Open({path}, {0});
  QMimeData drop;
  drop.setUrls({QUrl::fromLocalFile(dir + "/new.jpg")});
  dialog.Cover->PutFrom(&drop);
  dialog.OKBtnClick();
  const QByteArray other = QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(100, 'x');
  ASSERT_EQ(lbtags::WriteCover(path, other), "");

  ASSERT_TRUE(QFile::rename(path, path + ".away"));
  EXPECT_TRUE(lb::CanUndoLastChange(&window));
  ASSERT_TRUE(QFile::rename(path + ".away", path));

  ui.ClearMessages();
  lb::UndoLastChange(&window);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, QString::fromUtf8(lb::kUndoWithdrawn));
  EXPECT_FALSE(lb::CanUndoLastChange(&window));
  lbtags::TCover cover;
  ASSERT_TRUE(lbtags::ReadCover(path, &cover));
  EXPECT_EQ(cover.data, other);
}

}  // namespace
