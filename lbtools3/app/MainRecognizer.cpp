// The main window's recognizer command: filling the selected songs' tags from a disc.
#include "Main.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/recognizer/RecognizerDialog.h"

#include <QAction>
#include <memory>

void TMainForm::ConnectRecognizer() {
  QAction* action = Act("ServiceRecognize");
  action->setStatusTip("Заполнение тэгов информацией с муз. диска");
  m_Rules["ServiceRecognize"] = TActionRule::Sel;
  connect(action, &QAction::triggered, this, [this] {
    TMDIChild* child = ActiveChild();
    if (!child) return;
    std::unique_ptr<TNewRecognizerDlg> dialog;
    {
      TBusyCursor busy;
      dialog = std::make_unique<TNewRecognizerDlg>(m_Ini, this);
      dialog->SetChild(child);
    }
    if (!dialog->HasRows()) {
      UiServices::Instance().MessageBox(lb::TRecognizer::kNoExtracters, UiServices::kCaption,
                                        MB_OK | MB_ICONINFORMATION);
      return;
    }
    dialog->exec();
  });
}
