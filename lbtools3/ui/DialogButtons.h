// The foot of a dialog: "Да" (the default button) and "Отмена" at the right, after any
// widgets of the dialog's own at the left.
#pragma once

#include <initializer_list>

class QBoxLayout;
class QDialog;
class QPushButton;
class QWidget;

namespace lb {
struct TDialogButtons {
  QPushButton* ok;
  QPushButton* cancel;  // rejects the dialog
};
// Adds the row to the dialog's layout; what "Да" does is the caller's to connect.
TDialogButtons AddDialogButtons(QDialog* dialog, QBoxLayout* layout,
                                std::initializer_list<QWidget*> left = {});
}  // namespace lb
