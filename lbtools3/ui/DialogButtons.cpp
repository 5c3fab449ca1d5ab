#include "DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace lb {
TDialogButtons AddDialogButtons(QDialog* dialog, QBoxLayout* layout,
                                std::initializer_list<QWidget*> left) {
  auto* row = new QHBoxLayout;
  for (QWidget* widget : left) row->addWidget(widget);
  row->addStretch();
  TDialogButtons buttons{new QPushButton("Да", dialog), new QPushButton("Отмена", dialog)};
  buttons.ok->setDefault(true);
  row->addWidget(buttons.ok);
  row->addWidget(buttons.cancel);
  layout->addLayout(row);
  QObject::connect(buttons.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  return buttons;
}
}  // namespace lb
