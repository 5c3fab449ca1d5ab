// A failed check on OK brings the page of the field it names to the front and puts the
// focus in that field.
#include "SettingsTestUtil.h"

#include "lbtools3/settings/SettingsDialog.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

using namespace settingstest;

namespace {

TEST(SettingsPagesTest, FailedCheckShowsItsFieldOnItsPage) {
  FreshEnvironment env;
  ScriptedUiServices ui;
  TIniFile ini{lb::SettingsFilePath()};
  RecordingEffects effects;
  TPropertiesForm form(nullptr, ini, &effects);
  form.show();
  QApplication::setActiveWindow(&form);
  auto* pages = form.findChild<QTabWidget*>("PageControl1");
  ASSERT_NE(pages, nullptr);
  auto* velocity = form.findChild<QLineEdit*>("EditVelocity");
  ASSERT_NE(velocity, nullptr);
  velocity->setText("0");
  pages->setCurrentIndex(0);
  form.findChild<QPushButton*>("Button1")->click();
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_TRUE(pages->currentWidget()->isAncestorOf(velocity));
  EXPECT_EQ(QApplication::focusWidget(), velocity);
  EXPECT_EQ(velocity->selectedText(), "0");
  EXPECT_TRUE(form.isVisible());  // still open for the correction
}

}  // namespace
