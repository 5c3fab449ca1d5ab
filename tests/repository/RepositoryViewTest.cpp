// The repository's list view: its cells, its selection kept in step with the
// repository's both ways, the header click and Enter.
#include "TestEnv.h"
#include "lbtools3/repository/RepositoryView.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

class CountingFactory : public IDocumentWindowFactory {
 public:
  IDocumentWindow* CreateNewDocumentWindow(const QString&, const TSlDocument*) override {
    return nullptr;
  }
  IDocumentWindow* CreateListWindow(const QString& path, const TSlDocument*) override {
    opened << path;
    return nullptr;  // never reached in these tests without a file
  }
  QStringList opened;
};

class RepositoryViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini = std::make_unique<TIniFile>(lbtest::NewTempDir() + "/lbtools3.ini");
    repo = std::make_unique<TListsRepository>(*ini, &factory);
    for (const char* name : {"c", "a", "b"})
      repo->Add(QString("/l/%1.m3u").arg(name), false, nullptr);
    view = std::make_unique<TRepositoryView>(*repo);
    view->resize(400, 300);
    view->show();
  }
  QList<int> ViewRows() const {
    QList<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  QPoint HeaderPoint(int section) const {
    QHeaderView* header = view->horizontalHeader();
    return QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                  header->height() / 2);
  }

  ScriptedUiServices ui;
  CountingFactory factory;
  std::unique_ptr<TIniFile> ini;
  std::unique_ptr<TListsRepository> repo;
  std::unique_ptr<TRepositoryView> view;
};

TEST_F(RepositoryViewTest, CellsAndHeadersFollowTheRows) {
  QAbstractItemModel* model = view->model();
  EXPECT_EQ(model->columnCount(), 4);
  view->setColumnWidth(1, 100);  // wide enough for the whole caption
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Открыт");
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), "Имя листа");
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Полный путь");
  EXPECT_EQ(view->toolTip(), "Хранилище листов");
  repo->Add("/l/0.m3u", false, nullptr);
  ASSERT_EQ(model->rowCount(), 4);
  EXPECT_EQ(model->index(0, 2).data().toString(), "0");
  EXPECT_EQ(model->index(3, 0).data().toString(), "4");
  EXPECT_EQ(model->index(3, 3).data().toString(), "/l/c.m3u");
  repo->Remove(0);
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->index(0, 0).data().toString(), "1");
  EXPECT_EQ(model->index(0, 2).data().toString(), "a");
}

TEST_F(RepositoryViewTest, SelectionTravelsBothWays) {
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(view->model()->index(1, 2)).center());
  EXPECT_EQ(repo->FirstSelected(), 1);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    view->visualRect(view->model()->index(2, 2)).center());
  EXPECT_EQ(repo->SelectedCount(), 2);

  repo->SelectAll(false);
  EXPECT_TRUE(ViewRows().isEmpty());
  repo->SetSelected(0, true);
  EXPECT_EQ(ViewRows(), QList<int>({0}));

  // A bulk operation shows only the marked row and gives the flags back at its end.
  repo->SetSelectedRows({0, 2});
  repo->BeginBulk();
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::SingleSelection);
  repo->MarkRow(1);
  EXPECT_EQ(ViewRows(), QList<int>({1}));
  repo->EndBulk();
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(ViewRows(), QList<int>({0, 2}));
}

TEST_F(RepositoryViewTest, NumberHeaderTogglesAllAndOtherHeadersSelectNothing) {
  QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, Qt::NoModifier,
                    HeaderPoint(2));
  EXPECT_TRUE(ViewRows().isEmpty());
  EXPECT_EQ(repo->SelectedCount(), 0);
  QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, Qt::NoModifier,
                    HeaderPoint(0));
  EXPECT_EQ(ViewRows(), QList<int>({0, 1, 2}));
  QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, Qt::NoModifier,
                    HeaderPoint(0));
  EXPECT_TRUE(ViewRows().isEmpty());
}

TEST_F(RepositoryViewTest, EnterOpensTheFirstSelectedList) {
  repo->SetSelected(1, true);
  QTest::keyClick(view.get(), Qt::Key_Return);
  // The list is not on disk: the user is told and its row goes.
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].caption, "Открытие листов");
  EXPECT_EQ(repo->IndexOf("/l/b.m3u"), -1);
  EXPECT_EQ(view->model()->rowCount(), 2);
}

TEST_F(RepositoryViewTest, WidthsAreStoredAndRead) {
  view->setColumnWidth(3, 321);
  view->SaveView();
  EXPECT_EQ(ini->ReadInteger(TListsRepository::kSection, "ColumnWidth*3", 0), 321);
  EXPECT_EQ(ini->ReadInteger("Position", "Splitter", 0), view->width());
  view->setColumnWidth(3, 50);
  ini->WriteInteger("Position", "Splitter", 199);
  EXPECT_EQ(view->LoadView(), 199);
  EXPECT_EQ(view->columnWidth(3), 321);
}

// Like the list windows' headers: a caption too wide keeps its start and ends in "…",
// whole in the tooltip.
TEST_F(RepositoryViewTest, NarrowHeadersEndInAnEllipsisWithTheCaptionAsTooltip) {
  QAbstractItemModel* model = view->model();
  const int open = TListsRepository::colOpen;
  view->setColumnWidth(open, 30);
  const QString shown = model->headerData(open, Qt::Horizontal).toString();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026)) && shown.size() > 1) << shown.toStdString();
  EXPECT_TRUE(QString("Открыт").startsWith(shown.chopped(1))) << shown.toStdString();
  EXPECT_EQ(model->headerData(open, Qt::Horizontal, Qt::ToolTipRole).toString(), "Открыт");
  view->setColumnWidth(open, 200);
  EXPECT_EQ(model->headerData(open, Qt::Horizontal).toString(), "Открыт");
  EXPECT_FALSE(model->headerData(open, Qt::Horizontal, Qt::ToolTipRole).isValid());
}

}  // namespace
