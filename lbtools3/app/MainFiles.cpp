// The main window's commands that rename, copy and move the files of the active
// document window's selected songs.
#include "Main.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/files/RenameDialog.h"
#include "lbtools3/files/CopyMoveDialog.h"
#include "lbtools3/repository/Repository.h"

#include <QAction>

void TMainForm::ConnectFileActions() {
  connect(Act("OptionsRenameFiles"), &QAction::triggered, this, [this] {
    WithChild([this](TMDIChild* c) {
      TNewRenameFiles dialog(c, m_Repository.get(), this);
      dialog.exec();
    });
  });
  for (bool bCopy : {true, false}) {
    connect(Act(bCopy ? "OptionsCopyFiles" : "OptionsMoveFiles"), &QAction::triggered, this,
            [this, bCopy] {
              WithChild([this, bCopy](TMDIChild* c) {
                TCopyMoveFiles dialog(c, bCopy, m_Repository.get(), this);
                dialog.exec();
              });
            });
  }
  for (const char* name : {"OptionsRenameFiles", "OptionsCopyFiles", "OptionsMoveFiles"})
    m_Rules[name] = TActionRule::Sel;
}
