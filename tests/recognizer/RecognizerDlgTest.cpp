// The recognizer dialog over a document window: marks, the OK button and the songs
// deselected after the extraction.
#include "docwin_gui/FakeHost.h"
#include "extracter/ExtracterTestSupport.h"
#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/recognizer/RecognizerDialog.h"
#include "com/Categories.h"
#include "com/Server.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

using namespace lbtest;

namespace {

class RecognizerDlg : public TExtracterFixture {
 protected:
  void WaitIdle(TMDIChild* child) {
    while (child->IsSynchronising()) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(1);
    }
    QApplication::processEvents();
  }
  int RowOf(TNewRecognizerDlg& dlg, REFCLSID clsid) {
    const auto& rows = dlg.Recognizer().Rows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].extracter.clsid == clsid) return static_cast<int>(i);
    return -1;
  }
  void Pick(TNewRecognizerDlg& dlg, int row) {
    dlg.ListView1->setCurrentItem(dlg.ListView1->topLevelItem(row));
  }
  ScriptedUiServices ui;
  FakeHost host;
  QMdiArea area;
};

TEST_F(RecognizerDlg, OkOnlyForAMarkedRowAndAnsweredSongsLoseTheirSelection) {
  ASSERT_TRUE(QDir().mkpath(Path("B/mus&song/12")));
  Write("B/setup/dir.www",
        Oem("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\nДвенадцать\r\n"));
  Write("B/mus&song/12/zz12.www", Oem("Раз\r\nДва\r\n"));

  TSlDocument source;
  source.SetFileName(Path("list.m3u"));
  for (const char* name : {"01.mp3", "02.mp3", "intro.mp3"}) {
    source.m_Songs.push_back(
        std::make_unique<TSlSong>(&source, Path("B/mus&song/12/") + name, QString()));
    source.m_Songs.back().m_FileAge = kAgeMissing;
  }
  source.m_bNew = false;
  auto* child = new TMDIChild(&area, &host, source.m_FileName, false, &source);
  child->ShowWindow();
  WaitIdle(child);
  child->SelectSongs({1, 2});

  TNewRecognizerDlg dlg(host.ini);
  dlg.SetChild(child);
  ASSERT_TRUE(dlg.HasRows());
  const int type1 = RowOf(dlg, CLSID_LBExtracterType1), type2 = RowOf(dlg, CLSID_LBExtracterType2);
  Pick(dlg, type2);
  EXPECT_FALSE(dlg.OKBtn->isEnabled()) << "no mark before Определить";

  dlg.DirectoryEdit1->setText(Path("B"));
  dlg.RecognizeBtn->click();
  EXPECT_EQ(host.ini.ReadString("LBExtracter", "Last Directory", ""), Path("B")) << "as typed";
  EXPECT_FALSE(dlg.ListView1->topLevelItem(type2)->icon(0).isNull());
  EXPECT_TRUE(dlg.ListView1->topLevelItem(type1)->icon(0).isNull());
  EXPECT_TRUE(dlg.OKBtn->isEnabled());
  Pick(dlg, type1);
  EXPECT_FALSE(dlg.OKBtn->isEnabled());
  Pick(dlg, type2);
  ASSERT_TRUE(dlg.OKBtn->isEnabled());

  dlg.OKBtn->click();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(child->SelectedRows(), std::vector<int>{2}) << "intro.mp3 got no answer";
  EXPECT_EQ(child->m_Document.m_Songs[1].m_Tag2.Title, "Два");
  EXPECT_EQ(child->m_Document.m_Songs[1].m_Tag1.GetAlbum(), "Двенадцать");
  EXPECT_EQ(child->m_Document.m_Songs[0].m_Tag2.Title, "") << "not selected";
  EXPECT_TRUE(child->m_Document.m_bModified);
  EXPECT_TRUE(dlg.isEnabled()) << "enabled again after the progress window";
  delete child->SubWindow();
}

TEST_F(RecognizerDlg, AnExtracterThatCannotBeLoadedIsNamedAndLeftOut) {
  // {6F1B0C52-3D2E-4C8A-9E57-1A2B3C4D5E70}: an extracter whose server file has gone.
  const CLSID ghost = {
      0x6F1B0C52, 0x3D2E, 0x4C8A, {0x9E, 0x57, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x70}};
  lb::ClassRegistration reg;
  reg.clsid = ghost;
  reg.description = "Ghost";
  ASSERT_EQ(lb::RegisterInprocClass(reg, Path("libgone.so")), S_OK);
  ComPtr<ICatRegister> categories;
  ASSERT_EQ(lb::CreateCategoriesManager(IID_ICatRegister, categories.PutVoid()), S_OK);
  CATID catid = CATID_LBExtracter;
  ASSERT_EQ(categories->RegisterClassImplCategories(ghost, 1, &catid), S_OK);

  TNewRecognizerDlg dlg(host.ini);
  EXPECT_EQ(ui.Texts(), QStringList{"Источник распознавания «Ghost» не загружается (файл модуля "
                                    "не найден или не загружается) и пропущен"});
  EXPECT_EQ(dlg.ListView1->topLevelItemCount(), 4);
  EXPECT_EQ(RowOf(dlg, ghost), -1);
  // Said once a session, not at every opening.
  TNewRecognizerDlg again(host.ini);
  EXPECT_EQ(ui.Texts().size(), 1);
  EXPECT_EQ(again.ListView1->topLevelItemCount(), 4);
}

}  // namespace
