#include "WindowUndo.h"

#include "IDocumentWindow.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/UiServices.h"

#include <QObject>

namespace lb {

namespace {

// Lives as a child of the window, so the change goes with it.
class TUndoHolder : public QObject {
 public:
  explicit TUndoHolder(QObject* window) : QObject(window) { setObjectName(kName); }
  static constexpr const char* kName = "WindowUndoHolder";
  std::unique_ptr<TWindowUndo> undo;
};

TUndoHolder* Holder(IDocumentWindow* window, bool bCreate) {
  auto* object = dynamic_cast<QObject*>(window);
  if (!object) return nullptr;
  auto* holder = object->findChild<TUndoHolder*>(TUndoHolder::kName, Qt::FindDirectChildrenOnly);
  if (!holder && bCreate) holder = new TUndoHolder(object);
  return holder;
}

}  // namespace

TWindowUndo* LastChange(IDocumentWindow* window) {
  TUndoHolder* holder = Holder(window, false);
  return holder ? holder->undo.get() : nullptr;
}

void SetLastChange(IDocumentWindow* window, std::unique_ptr<TWindowUndo> undo) {
  if (TUndoHolder* holder = Holder(window, true)) holder->undo = std::move(undo);
}

bool CanUndoLastChange(IDocumentWindow* window) {
  TWindowUndo* undo = LastChange(window);
  return undo && undo->Available(*window);
}

QString UndoText(IDocumentWindow* window) {
  return CanUndoLastChange(window) ? LastChange(window)->Text() : QString();
}

void UndoLastChange(IDocumentWindow* window) {
  if (!CanUndoLastChange(window)) return;
  TWindowUndo* undo = LastChange(window);
  bool bUnchanged;
  {
    // The files are looked at while the windows turn: the job's level keeps every list
    // window open and its list as it is meanwhile.
    TInfoWindowLevel level("Проверка файлов...", QString(), false);
    bUnchanged = undo->FilesUnchanged(*window);
  }
  // The window went on answering during the look: a newer change may have taken the
  // slot meanwhile, and it is neither run nor withdrawn by this request.
  if (LastChange(window) != undo) return;
  if (!bUnchanged) {
    SetLastChange(window, nullptr);
    UiServices::Instance().MessageBox(QString::fromUtf8(kUndoWithdrawn), UiServices::kCaption,
                                      MB_OK | MB_ICONWARNING);
    return;
  }
  undo->Run(*window);
}

}  // namespace lb
