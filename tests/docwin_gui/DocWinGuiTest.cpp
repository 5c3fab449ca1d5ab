// The document window with real widgets: the virtual list, drops within and between
// windows, the cells, the close query, the synchronisation pass and file deletion.
#include "WindowTest.h"

#include "lbtools3/ui/SongColumns.h"
#include "platform/FileSystem.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QUrl>

namespace {

class DocWinGuiTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    area.resize(1000, 800);
    area.show();
  }
  void TearDown() override {
    for (QMdiSubWindow* sub : area.subWindowList()) {
      if (auto* child = qobject_cast<TMDIChild*>(sub->widget())) {
        WaitIdle(child);
        child->m_Document.m_bModified = false;
      }
      delete sub;
    }
  }

  TMDIChild* Open(const QStringList& paths, const QString& name = "list") {
    TMDIChild* child = OpenOver(paths, name);
    WaitIdle(child);
    return child;
  }
  static void WaitIdle(TMDIChild* child) {
    if (!docwintest::ProcessEventsUntil([child] { return !child->IsSynchronising(); })) return;
    if (child->m_pSyncThread) child->m_pSyncThread->WaitFor();
    QApplication::processEvents();
  }
  static QStringList Names(TMDIChild* child) {
    QStringList names;
    for (int n = 0; n < child->m_Document.m_Songs.size(); ++n)
      names << lb::FileBaseName(child->m_Document.m_Songs[n].m_Path);
    return names;
  }
  static QPoint RowPoint(TMDIChild* child, int row, int dy) {
    const QRect rect = child->ListView2->GetItemRect(row);
    return QPoint(20, rect.top() + rect.height() / 2 + dy);
  }
  static void Drop(TMDIChild* target, TMDIChild* source, const QPoint& point,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMimeData mime;
    mime.setData(TSLLBListView::kMimeType,
                 QByteArray::number(reinterpret_cast<quintptr>(source->ListView2)));
    Drag(target->ListView2->viewport(), point, &mime, QEvent::Drop, modifiers);
  }
  static void Click(QWidget* widget, const QPoint& point, Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(point), widget->mapToGlobal(QPointF(point)),
                      button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(point),
                        widget->mapToGlobal(QPointF(point)), button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
  }
  static QString Cell(TMDIChild* child, int row, int column) {
    auto* model = child->ListView2->Model();
    return model->data(model->index(row, column), Qt::DisplayRole).toString();
  }
};

// ---- the virtual list ----

TEST_F(DocWinGuiTest, EmptyListNeverAsksTheDataCallback) {
  auto* child = new TMDIChild(&area, &host, dir + "/new.m3u", true, nullptr);
  int calls = 0;
  auto original = child->ListView2->OnData;
  child->ListView2->OnData = [&calls, original](int item, int column, bool bText, QString& text,
                                                int& image) {
    ++calls;
    original(item, column, bText, text, image);
  };
  child->ShowWindow();
  child->ListView2->grab();  // a full paint
  QApplication::processEvents();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(child->m_pSyncThread);  // a new list runs no pass
  // Header click on "N" with no rows selects nothing; paste goes to row 0.
  child->ColumnClick(0);
  EXPECT_EQ(child->ListView2->GetSelCount(), 0);
  TSlDocument other;
  docwintest::FillDocument(other, dir, Missing(2, "p"));
  other.CopyToClipboard({1});
  child->EditPaste();
  EXPECT_EQ(Names(child), QStringList({"p1"}));
  EXPECT_EQ(child->ListView2->GetCount(), 1);
  child->ListView2->grab();
  EXPECT_GT(calls, 0);
  child->ListView2->OnData = original;
}

TEST_F(DocWinGuiTest, DataCallbackAnswersOnlyRowsOnScreen) {
  TMDIChild* child = Open(Missing(5000, "s"));
  int maxRow = -1;
  auto original = child->ListView2->OnData;
  child->ListView2->OnData = [&maxRow, original](int item, int column, bool bText, QString& text,
                                                 int& image) {
    maxRow = std::max(maxRow, item);
    original(item, column, bText, text, image);
  };
  child->ListView2->grab();
  child->ListView2->OnData = original;
  EXPECT_GE(maxRow, 3);
  EXPECT_LT(maxRow, 200);
}

TEST_F(DocWinGuiTest, CellsFollowTheColumnKinds) {
  TMDIChild* child = Open(Missing(1, "c"));
  child->SetColumns({{0, 40}, {9, 100}, {8, 90}, {16, 100}, {23, 16}});
  {
    TSlSong& song = child->m_Document.m_Songs[0];
    song.m_Tag1.SetTitle("T", false);  // exists, genre 255
    song.m_Tag2.SetComment("a\n\nb");
  }
  EXPECT_EQ(Cell(child, 0, 0), "1");
  EXPECT_EQ(Cell(child, 0, 1), "");
  EXPECT_EQ(Cell(child, 0, 2), "");
  EXPECT_EQ(Cell(child, 0, 3), "a b");
  EXPECT_EQ(Cell(child, 0, 4), "");
  // The header shows the captions; the layout reads back.
  EXPECT_EQ(child->ListView2->Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
            "Трэк (Тэг1)");
  EXPECT_EQ(child->Columns(), TColumnLayout({{0, 40}, {9, 100}, {8, 90}, {16, 100}, {23, 16}}));
  // Unknown kinds from a damaged layout are left out; an empty one gives the defaults.
  child->SetColumns({{2, 300}, {77, 10}});
  EXPECT_EQ(child->Columns(), TColumnLayout({{2, 300}}));
  child->SetColumns({});
  EXPECT_EQ(child->Columns(), lb::DefaultColumnLayout());
}

TEST_F(DocWinGuiTest, SelectionCountAndHeaderClicks) {
  TMDIChild* child = Open(Missing(6, "h"));
  EXPECT_EQ(child->StatusText(0), "0 из 6");  // a list just loaded counts its songs
  child->ListView2->SelectItems({1, 2, 4});
  EXPECT_EQ(child->StatusText(0), "3 из 6");
  child->ColumnClick(0);  // "N": something selected -> nothing selected
  EXPECT_EQ(child->StatusText(0), "0 из 6");
  child->ColumnClick(0);
  EXPECT_EQ(child->ListView2->GetSelCount(), 6);
  child->ListView2->SelectItems({0, 5});
  child->SelectItems(false);  // invert
  EXPECT_EQ(child->ListView2->SelectedItems(), std::vector<int>({1, 2, 3, 4}));
  child->SelectItems(true);
  EXPECT_EQ(child->ListView2->GetSelCount(), 6);
}

TEST_F(DocWinGuiTest, SyncColumnClickTogglesAndReportsRefusal) {
  const QString mp3 = docwintest::MakeTaggedMp3(dir + "/x.mp3", "X");
  lbtest::WriteFile(dir + "/y.wav", "RIFF");
  TMDIChild* child = Open({mp3, dir + "/y.wav"});
  child->SetColumns({{0, 40}, {23, 30}, {24, 30}});
  WaitIdle(child);
  // The .wav song was turned off by its first synchronisation; it cannot be turned on.
  ASSERT_FALSE(child->m_Document.m_Songs[1].m_Tag1.bTagSync);
  Click(child->ListView2->viewport(), QPoint(50, RowPoint(child, 1, 0).y()));
  EXPECT_EQ(ui.Texts(), QStringList({"Не удаётся сменить свойство синхронизуемости"}));
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_ICONERROR));
  ui.ClearMessages();
  Click(child->ListView2->viewport(), QPoint(80, RowPoint(child, 0, 0).y()));
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_FALSE(child->m_Document.m_Songs[0].m_Tag2.bTagSync);
  EXPECT_TRUE(child->m_Document.m_Songs[0].m_Tag1.bTagSync);
}

TEST_F(DocWinGuiTest, DoubleClickAndKeysReachTheMainWindow) {
  TMDIChild* child = Open(Missing(3, "d"));
  child->DblClick(2);
  EXPECT_EQ(host.playedFrom, 2);
  host.ini.WriteInteger("Settings", "DblClkAction", 1);
  child->DblClick(1);
  EXPECT_EQ(host.commands, QStringList({"OptionsTagsEdit"}));
  host.ini.WriteInteger("Settings", "DblClkAction", 5);
  child->DblClick(1);
  EXPECT_EQ(host.commands.size(), 1);
  host.ini.DeleteKey("Settings", "DblClkAction");
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
  QApplication::sendEvent(child->ListView2, &space);
  ASSERT_FALSE(host.commands.empty());
  EXPECT_EQ(host.commands.last(), "WinampPlay");
}

// ---- drag and drop ----

TEST_F(DocWinGuiTest, DropBelowTheLastRowsMiddleOrOnEmptySpaceAppends) {
  TMDIChild* a = Open(Missing(3, "a"), "la");
  TMDIChild* b = Open(Missing(3, "b"), "lb");
  a->ListView2->SelectItems({0});
  Drop(b, a, RowPoint(b, 2, 2));
  EXPECT_EQ(Names(b), QStringList({"b0", "b1", "b2", "a0"}));
  Drop(b, a, QPoint(20, b->ListView2->viewport()->height() - 5));
  EXPECT_EQ(Names(b), QStringList({"b0", "b1", "b2", "a0", "a0"}));
  Drop(b, a, RowPoint(b, 1, -2));  // above a row's middle: before it
  EXPECT_EQ(Names(b), QStringList({"b0", "a0", "b1", "b2", "a0", "a0"}));
  EXPECT_EQ(Names(a), QStringList({"a0", "a1", "a2"}));  // copies
  EXPECT_TRUE(b->m_bPlayerListOutdated);
}

TEST_F(DocWinGuiTest, MovingRowsTwoAndThreeOntoRowFiveInsertsThemAtThree) {
  TMDIChild* child = Open(Missing(8, "m"));
  child->ListView2->SelectItems({2, 3});
  Drop(child, child, RowPoint(child, 5, -2));
  EXPECT_EQ(Names(child), QStringList({"m0", "m1", "m4", "m2", "m3", "m5", "m6", "m7"}));
  EXPECT_EQ(child->ListView2->GetSelCount(), 0);
  EXPECT_TRUE(child->ListView2->GetState(3, TSLLBListView::isFocused));
}

TEST_F(DocWinGuiTest, CtrlDropBetweenWindowsMovesPlainDropCopies) {
  TMDIChild* a = Open(Missing(4, "a"), "la");
  TMDIChild* b = Open(Missing(2, "b"), "lb");
  a->ListView2->SelectItems({1, 3});
  host.stopFollowing = 0;
  Drop(b, a, RowPoint(b, 0, -2));
  EXPECT_EQ(Names(b), QStringList({"a1", "a3", "b0", "b1"}));
  EXPECT_EQ(Names(a), QStringList({"a0", "a1", "a2", "a3"}));
  EXPECT_EQ(a->ListView2->GetSelCount(), 2);  // a copy keeps the selection
  EXPECT_EQ(host.stopFollowing, 1);           // the target only

  a->m_bPlayerListOutdated = false;
  Drop(b, a, RowPoint(b, 3, 2), Qt::ControlModifier);
  EXPECT_EQ(Names(b), QStringList({"a1", "a3", "b0", "b1", "a1", "a3"}));
  EXPECT_EQ(Names(a), QStringList({"a0", "a2"}));
  EXPECT_EQ(a->ListView2->GetCount(), 2);
  EXPECT_EQ(a->ListView2->GetSelCount(), 0);
  EXPECT_TRUE(a->m_bPlayerListOutdated);
  EXPECT_EQ(host.stopFollowing, 3);
  // The moved songs belong to the target now.
  EXPECT_EQ(b->m_Document.m_Songs[4].m_Parent, &b->m_Document);
}

TEST_F(DocWinGuiTest, MoveOutOfASynchronisingListIsRefused) {
  TMDIChild* a = Open(Missing(3, "a"), "la");
  TMDIChild* b = Open(Missing(2, "b"), "lb");
  a->ListView2->SelectItems({0});
  a->m_Document.m_DocNotSync->ResetEvent();  // as while its pass runs
  Drop(b, a, RowPoint(b, 0, 0), Qt::ControlModifier);
  Drop(a, a, RowPoint(a, 2, 2));
  EXPECT_EQ(ui.Texts(), QStringList(2,
                                    "Эта операция не может быть выполнена, пока "
                                    "синхронизируется документ."));
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_ICONERROR));
  EXPECT_EQ(Names(a), QStringList({"a0", "a1", "a2"}));
  EXPECT_EQ(Names(b), QStringList({"b0", "b1"}));
  EXPECT_EQ(a->ListView2->GetSelCount(), 1);
  // Copying out of it is allowed; cut and delete are refused like the move.
  Drop(b, a, RowPoint(b, 0, -2));
  EXPECT_EQ(Names(b), QStringList({"a0", "b0", "b1"}));
  a->EditDelete();
  EXPECT_EQ(a->m_Document.m_Songs.size(), 3);
  a->m_Document.m_DocNotSync->SetEvent();
}

TEST_F(DocWinGuiTest, FilesDroppedFromTheFileManagerGoAfterTheLastSelectedRow) {
  TMDIChild* child = Open(Missing(3, "f"));
  const QString x = docwintest::MakeTaggedMp3(dir + "/drop/x.mp3", "Dropped");
  docwintest::MakeTaggedMp3(dir + "/drop/y.mp3", "");
  lbtest::WriteFile(dir + "/drop/notes.txt", "text");
  child->ListView2->SelectItems({0, 1});
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(dir + "/drop")});
  Drag(child->ListView2->viewport(), QPoint(10, 10), &mime, QEvent::Drop);
  WaitIdle(child);
  ASSERT_EQ(child->m_Document.m_Songs.size(), 5);
  QStringList names = Names(child);
  EXPECT_EQ(names.mid(0, 2), QStringList({"f0", "f1"}));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.last(), "f2");
  // The restarted pass read the new songs' tags.
  const int at = names.indexOf("x");
  ASSERT_GE(at, 2);
  EXPECT_EQ(child->m_Document.m_Songs[at].m_Tag1.GetTitle(), "Dropped");
  EXPECT_EQ(child->StatusText(1), "Синхронизация тэгов завершена");
}

// ---- synchronisation ----

TEST_F(DocWinGuiTest, PassEndsWithItsMessageAndRescanShowsOutsideEdits) {
  const QString one = docwintest::MakeTaggedMp3(dir + "/one.mp3", "Before");
  TMDIChild* child = Open({one});
  child->SetColumns({{0, 40}, {3, 100}});
  EXPECT_EQ(child->StatusText(1), "Синхронизация тэгов завершена");
  EXPECT_EQ(Cell(child, 0, 1), "Before");
  docwintest::RetitleOutside(one, "After");
  child->Rescan();
  WaitIdle(child);
  EXPECT_EQ(Cell(child, 0, 1), "After");
  docwintest::RetitleOutside(one, "Again", 20);
  child->SetColumns({{2, 300}, {3, 100}});
  child->ColumnClick(0);  // the "Путь" header restarts the pass too
  WaitIdle(child);
  EXPECT_EQ(Cell(child, 0, 1), "Again");
}

TEST_F(DocWinGuiTest, PastesDuringThePassDoNotDisturbIt) {
  QStringList files;
  for (int n = 0; n < 300; ++n)
    files << docwintest::MakeTaggedMp3(dir + QString("/p%1.mp3").arg(n), QString("P%1").arg(n));
  TSlDocument clip;
  docwintest::FillDocument(clip, dir, files.mid(0, 3));
  TMDIChild* child = Open(files);
  int whileRunning = 0, late = 0;
  for (int round = 0; round < 3; ++round) {
    clip.CopyToClipboard({0, 1, 2});  // never synchronised
    // Every file is read again, so the pass lasts while the pastes come.
    for (int n = 0; n < child->m_Document.m_Songs.size(); ++n)
      child->m_Document.m_Songs[n].m_FileAge = kAgeNeverSynced;
    child->Rescan();
    late = 0;
    for (int n = 0; n < 50 && child->IsSynchronising(); ++n) {
      child->ListView2->SelectItems({n * 7 % child->ListView2->GetCount()});
      child->EditPaste();
      // Still running after the insertion: the pass must meet the pasted songs.
      child->IsSynchronising() ? ++whileRunning : ++late;
      QApplication::processEvents();
    }
    WaitIdle(child);
  }
  // At least some pastes met a running pass (how many depends on the machine's speed).
  EXPECT_GT(whileRunning, 0);
  EXPECT_EQ(child->ListView2->GetCount(), child->m_Document.m_Songs.size());
  int unsynced = 0;
  for (int n = 0; n < child->m_Document.m_Songs.size(); ++n)
    if (child->m_Document.m_Songs[n].m_FileAge == kAgeNeverSynced) ++unsynced;
  // Only a paste that came after the last pass had ended may be left for the next one.
  EXPECT_LE(unsynced, 3 * late);
}

// ---- closing ----

TEST_F(DocWinGuiTest, UnmodifiedListClosesWithoutAQuestion) {
  TMDIChild* child = Open(Missing(2, "u"));
  child->m_Document.m_bModified = false;
  QPointer<QMdiSubWindow> sub = child->SubWindow();
  EXPECT_TRUE(child->CloseWindow());
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_TRUE(sub.isNull());
  EXPECT_EQ(host.events, QStringList({"closed"}));
}

TEST_F(DocWinGuiTest, ModifiedListAsksAndAFailedSaveKeepsItOpen) {
  TMDIChild* child = Open(Missing(2, "q"));
  child->m_Document.m_bModified = true;
  const QString question = child->m_Document.m_FileName + "\nСохранить изменённый документ ?";

  ui.Answer(IDCANCEL);
  EXPECT_FALSE(child->CloseWindow());
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, question);
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  // With its "Справка" button.
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION | MB_HELP));
  EXPECT_EQ(host.saves, 0);

  host.saveResult = false;
  ui.Answer(IDYES);
  EXPECT_FALSE(child->CloseWindow());
  EXPECT_EQ(host.saves, 1);
  EXPECT_FALSE(child->m_bClosing);

  QPointer<QMdiSubWindow> sub = child->SubWindow();
  ui.Answer(IDNO);
  EXPECT_TRUE(child->CloseWindow());
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(sub.isNull());
  EXPECT_EQ(host.saves, 1);
}

TEST_F(DocWinGuiTest, DestructionTellsTheRepositoryAndThePlayer) {
  auto* fresh = new TMDIChild(&area, &host, dir + "/never.m3u", true, nullptr);
  host.following = true;
  fresh->CloseWindow();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(host.events, QStringList({"forget " + dir + "/never.m3u"}));
  EXPECT_EQ(host.stopFollowing, 1);
}

TEST_F(DocWinGuiTest, ListThatCannotLoadGoesAwayByItself) {
  auto* child = new TMDIChild(&area, &host, dir + "/absent.m3u", false, nullptr);
  EXPECT_TRUE(child->LoadFailed());
  EXPECT_EQ(ui.Texts(), QStringList({"Файл не найден"}));
  QPointer<QMdiSubWindow> sub = child->SubWindow();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(sub.isNull());
  EXPECT_TRUE(host.events.isEmpty());
}

TEST_F(DocWinGuiTest, ListLoadsFromDiskAndStartsItsPass) {
  const QString song = docwintest::MakeTaggedMp3(dir + "/disk.mp3", "Disk");
  lbtest::WriteFile(dir + "/disk.m3u", "disk.mp3\r\n");
  auto* child = new TMDIChild(&area, &host, dir + "/disk.m3u", false, nullptr);
  ASSERT_FALSE(child->LoadFailed());
  child->ShowWindow();
  EXPECT_EQ(child->ListView2->GetCount(), 1);
  WaitIdle(child);
  EXPECT_EQ(child->m_Document.m_Songs[0].m_Tag1.GetTitle(), "Disk");
  EXPECT_EQ(child->windowTitle(), dir + "/disk.m3u");
}

// ---- list operations ----

TEST_F(DocWinGuiTest, CutCopyPasteDeleteKeepViewAndDocumentTogether) {
  TMDIChild* child = Open(Missing(5, "e"));
  child->ListView2->SelectItems({1, 3});
  child->EditCopy();
  EXPECT_EQ(child->ListView2->GetSelCount(), 2);
  child->EditCut();
  EXPECT_EQ(Names(child), QStringList({"e0", "e2", "e4"}));
  EXPECT_EQ(child->ListView2->GetCount(), 3);
  child->ListView2->SelectItems({0});
  child->EditPaste();  // after the first selected row
  EXPECT_EQ(Names(child), QStringList({"e0", "e1", "e3", "e2", "e4"}));
  // The pasted songs are the selection; after Delete no song is, and a second Delete
  // takes nothing.
  EXPECT_EQ(child->ListView2->SelectedItems(), std::vector<int>({1, 2}));
  child->ListView2->SelectItems({0, 4});
  child->EditDelete();
  EXPECT_EQ(Names(child), QStringList({"e1", "e3", "e2"}));
  EXPECT_EQ(child->ListView2->GetCount(), 3);
  EXPECT_TRUE(child->ListView2->SelectedItems().empty());
  EXPECT_EQ(child->StatusText(0), "0 из 3");
  child->EditDelete();
  EXPECT_EQ(Names(child), QStringList({"e1", "e3", "e2"}));
  child->ListView2->SelectItems({2});
  child->EditDelete();
  EXPECT_TRUE(child->ListView2->SelectedItems().empty());
  child->EditPaste();
  EXPECT_EQ(Names(child), QStringList({"e1", "e3", "e1", "e3"}));
  child->ListView2->SelectItems({0, 1, 2, 3});
  child->SortItems([](const TSlSong& a, const TSlSong& b) { return a.m_Path < b.m_Path; });
  EXPECT_EQ(Names(child), QStringList({"e1", "e1", "e3", "e3"}));
}

TEST_F(DocWinGuiTest, PathsConvertForSelectedOrAllRows) {
  TMDIChild* child = Open(Missing(3, "list/sub/c"));
  child->ListView2->SelectItems({1});
  child->CorrectPaths(false, false);
  EXPECT_EQ(child->m_Document.m_Songs[1].m_Path, "list/sub/c1.mp3");
  EXPECT_TRUE(child->m_Document.m_Songs[0].m_Path.startsWith('/'));
  child->CorrectPaths(false, true);
  EXPECT_EQ(child->m_Document.m_Songs[0].m_Path, "list/sub/c0.mp3");
  child->CorrectPaths(true, true);
  EXPECT_EQ(child->m_Document.m_Songs[2].m_Path, dir + "/list/sub/c2.mp3");
}

// ---- deleting files ----

TEST_F(DocWinGuiTest, DeletingMissingFilesNeedsNoDialogAndClearsOtherLists) {
  TMDIChild* child = Open(Missing(5, "g"));
  child->ListView2->SelectItems({0, 2, 4});
  ui.Answer(IDYES);
  child->DeleteFiles(false);
  EXPECT_EQ(ui.Texts(), QStringList({"Удалить выбранные файлы ?"}));
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(Names(child), QStringList({"g1", "g3"}));
  EXPECT_EQ(child->ListView2->GetCount(), 2);
  EXPECT_EQ(host.changedPaths,
            QStringList({dir + "/g0.mp3", "", dir + "/g2.mp3", "", dir + "/g4.mp3", ""}));
  EXPECT_EQ(host.skipped, child);
  ASSERT_FALSE(host.events.empty());
  EXPECT_EQ(host.events.last(), "forget row");
}

TEST_F(DocWinGuiTest, DeletingWithShiftLeavesOtherListsAlone) {
  const QString file = modeltest::MakeMp3(dir + "/real.mp3");
  TMDIChild* child = Open({file, dir + "/other.mp3"});
  child->ListView2->SelectItems({0});
  ui.Answer(IDNO);
  child->DeleteFiles(true);
  EXPECT_EQ(ui.Texts(),
            QStringList({"Удалить выбранные файлы (без последующего пересканирования) ?"}));
  EXPECT_TRUE(QFile::exists(file));
  ui.Answer(IDYES);
  child->DeleteFiles(true);
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_EQ(Names(child), QStringList({"other"}));
  EXPECT_TRUE(host.changedPaths.isEmpty());
}

TEST_F(DocWinGuiTest, FileThatCannotBeDeletedIsReportedAndKept) {
  const QString kept = modeltest::MakeMp3(dir + "/locked/kept.mp3");
  TMDIChild* child = Open({kept, dir + "/gone.mp3"});
  child->ListView2->SelectItems({0, 1});
  lbtest::ReadOnlyFolder locked(dir + "/locked");
  if (!locked.Ok()) GTEST_SKIP() << "cannot make a folder refuse changes here";
  ui.Answer(IDYES);
  child->DeleteFiles(false);
  EXPECT_EQ(ui.Texts(),
            QStringList({"Удалить выбранные файлы ?", "Ошибка удаления файла\n" + kept}));
  EXPECT_EQ(Names(child), QStringList({"kept"}));
  EXPECT_EQ(host.changedPaths, QStringList({dir + "/gone.mp3", ""}));
}

}  // namespace
