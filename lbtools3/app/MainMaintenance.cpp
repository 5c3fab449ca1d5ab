// The main window's maintenance commands: checking the active list, replacing paths,
// the forgotten-files search and writing lists as text.
#include "Main.h"
#include "lbtools3/repository/Repository.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/maintenance/ForgottenFilesDialog.h"
#include "lbtools3/maintenance/ReplacePathsDialog.h"
#include "lbtools3/maintenance/RelinkDialog.h"
#include "lbtools3/report/ReportDialog.h"

#include <QAction>

void TMainForm::ConnectMaintenanceActions() {
  auto on = [this](const char* name, TActionRule rule, std::function<void()> fn) {
    connect(Act(name), &QAction::triggered, this, [fn] { fn(); });
    m_Rules[name] = rule;
  };
  auto findMoved = [this](TMDIChild* c) {
    lb::RelinkInWindow(*c, *this, *m_Repository, m_Ini, this);
  };
  on("ServiceCheckList", TActionRule::Doc, [this, findMoved] {
    WithChild(
        [findMoved](TMDIChild* c) { lb::CheckListInWindow(c, [c, findMoved] { findMoved(c); }); });
  });
  on("ServiceRelink", TActionRule::Doc, [this, findMoved] { WithChild(findMoved); });
  on("ServiceChangePaths", TActionRule::Sel, [this] {
    WithChild([this](TMDIChild* c) {
      TNewReplacePaths dialog(c, m_Ini, this);
      dialog.exec();
    });
  });
  on("ServiceLoosedFiles", TActionRule::Always, [this] {
    TDeadFilesDlg dialog(*m_Repository, m_Ini, this);
    if (dialog.exec() == QDialog::Accepted && !dialog.Result().m_Songs.empty())
      m_Repository->NewDocument(&dialog.Result());
  });
  on("FileWrite", TActionRule::Always, [this] {
    TWriteTextDlg dialog(ActiveChild(), *m_Repository, m_Ini, this);
    dialog.exec();
  });
}
