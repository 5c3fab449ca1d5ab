// What the user sees of a list while working in it: where dragged songs will land,
// headers too narrow for their caption, the selection across a change of columns, and
// the guide reached from the columns dialog and the close question.
#include "WindowTest.h"

#include "lbtools3/docwin/ColumnsDialog.h"
#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/QtUiServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

// Takes the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }
};

namespace {

class ListViewUxTest : public WindowTest {
 protected:
  void SetUp() override {
    area.resize(900, 700);
    area.show();
    QDesktopServices::setUrlHandler("file", &browser, "Open");
  }
  void TearDown() override {
    QDesktopServices::unsetUrlHandler("file");
    for (QMdiSubWindow* sub : area.subWindowList()) delete sub;
  }
  TMDIChild* Open(int count, const QString& name) {
    TMDIChild* child = OpenOver(Missing(count, name), name);
    child->m_pSyncThread.reset();
    return child;
  }
  static QPoint InRow(TMDIChild* child, int row, bool lowerHalf) {
    const QRect rect = child->ListView2->GetItemRect(row);
    return QPoint(20, rect.top() + (lowerHalf ? rect.height() - 2 : 2));
  }

  UrlCatcher browser;
};

TEST_F(ListViewUxTest, DraggedSongsShowTheLineTheyWillBeInsertedAt) {
  TMDIChild* target = Open(5, "t");
  TMDIChild* source = Open(2, "s");
  QMimeData songs;
  songs.setData(TSLLBListView::kMimeType,
                QByteArray::number(reinterpret_cast<quintptr>(source->ListView2)));
  TSLLBListView* view = target->ListView2;
  EXPECT_EQ(view->GetDropLine(), -1);
  Drag(view->viewport(), InRow(target, 2, false), &songs, QEvent::DragMove);
  EXPECT_EQ(view->GetDropLine(), 2);
  Drag(view->viewport(), InRow(target, 2, true), &songs, QEvent::DragMove);
  EXPECT_EQ(view->GetDropLine(), 3);
  Drag(view->viewport(), QPoint(20, view->viewport()->height() - 2), &songs,
       QEvent::DragMove);  // below the rows
  EXPECT_EQ(view->GetDropLine(), 5);
  QDragLeaveEvent leave;
  QApplication::sendEvent(view->viewport(), &leave);
  EXPECT_EQ(view->GetDropLine(), -1);

  // The drop lands where the line was, and the line goes.
  source->ListView2->SelectItems({0});
  Drag(view->viewport(), InRow(target, 0, true), &songs, QEvent::DragMove);
  QDropEvent drop(QPointF(InRow(target, 0, true)), Qt::CopyAction | Qt::MoveAction, &songs,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &drop);
  EXPECT_EQ(view->GetDropLine(), -1);
  EXPECT_EQ(target->m_Document.m_Songs[1].GetPath(true),
            source->m_Document.m_Songs[0].GetPath(true));

  // Files from the file manager draw no song line.
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(dir + "/x.mp3")});
  Drag(view->viewport(), InRow(target, 1, true), &files, QEvent::DragMove);
  EXPECT_EQ(view->GetDropLine(), -1);
  target->m_Document.m_bModified = false;
}

TEST_F(ListViewUxTest, NarrowHeadersEndInAnEllipsisWithTheCaptionAsTooltip) {
  TMDIChild* child = Open(3, "h");
  child->SetColumns({{0, 40}, {3, 24}, {11, 300}});
  TSLLBListView* view = child->ListView2;
  EXPECT_EQ(view->horizontalHeader()->textElideMode(), Qt::ElideRight);
  auto tooltip = [view](int section) {
    return view->Model()->headerData(section, Qt::Horizontal, Qt::ToolTipRole).toString();
  };
  EXPECT_EQ(tooltip(1), "Название (Тэг1)");
  EXPECT_EQ(tooltip(2), "");  // it fits
  view->GetColumn(2).SetWidth(20);
  EXPECT_EQ(tooltip(2), "Название (Тэг2)");
  // The shown caption keeps its start and says that it is cut.
  view->GetColumn(2).SetWidth(70);
  const QString shown = view->Model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026)) && shown.size() > 1) << shown.toStdString();
  EXPECT_TRUE(QString("Название (Тэг2)").startsWith(shown.chopped(1))) << shown.toStdString();
}

TEST_F(ListViewUxTest, SelectionAndFocusSurviveAChangeOfColumns) {
  TMDIChild* child = Open(6, "c");
  child->ListView2->SelectItems({1, 4});
  child->ListView2->SetState(4, TSLLBListView::isFocused, true);
  TColumnsDlg dialog(child);
  dialog.SetRowTicked(dialog.RowCount() - 1, true);
  dialog.OKBtnClick();
  EXPECT_EQ(child->ListView2->SelectedItems(), std::vector<int>({1, 4}));
  EXPECT_EQ(child->ListView2->currentIndex().row(), 4);
  EXPECT_EQ(child->StatusText(0), "2 из 6");
}

TEST_F(ListViewUxTest, HelpOpensAtTheDialogsContextOrSaysWhyNot) {
  TMDIChild* child = Open(1, "f");
  TColumnsDlg dialog(child);
  QShortcut* f1 = nullptr;
  for (QShortcut* key : dialog.findChildren<QShortcut*>())
    if (key->key() == QKeySequence(Qt::Key_F1)) f1 = key;
  ASSERT_NE(f1, nullptr);
  emit f1->activated();
  ASSERT_EQ(browser.urls.size(), 1);
  EXPECT_EQ(browser.urls[0].fragment(), "context_3");
  EXPECT_EQ(browser.urls[0].toLocalFile(), lb::HelpFilePath());

  // A guide that is not there is named in a message instead of nothing happening.
  EXPECT_FALSE(lb::OpenHelpFile(dir + "/lbhelp.html", "context_3"));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, "Не удаётся открыть справку:\n" + dir + "/lbhelp.html");
  EXPECT_EQ(browser.urls.size(), 1);
}

TEST_F(ListViewUxTest, CloseQuestionsHelpButtonOpensItsContextAndAsksAgain) {
  QtUiServices widgets;
  int boxes = 0, tries = 0;
  // The first box gets "Справка", the one that follows it "Нет" (a box that never comes
  // is given up after about five seconds, failing the test instead of hanging).
  std::function<void()> press = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (++tries > 500) return;
      QTimer::singleShot(10, press);
      return;
    }
    const QString wanted = boxes++ == 0 ? "Справка" : "Нет";
    for (QAbstractButton* button : box->buttons())
      if (button->text() == wanted) {
        button->click();
        break;
      }
    if (boxes == 1) QTimer::singleShot(10, press);
  };
  QTimer::singleShot(10, press);
  const int answer =
      widgets.MessageBoxWithHelp("/m/list.m3u\nСохранить изменённый документ ?", "LBTools",
                                 MB_YESNOCANCEL | MB_ICONQUESTION, TMDIChild::kCloseQuestionHelp);
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(boxes, 2);
  ASSERT_EQ(browser.urls.size(), 1);
  EXPECT_EQ(browser.urls[0].fragment(), "context_11");
}

}  // namespace

#include "ListViewUxTest.moc"
