#include "SearchFolderList.h"

#include "CheckList.h"
#include "platform/UiServices.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

TSearchFolderList::TSearchFolderList(QListWidget* list, QLineEdit* edit, QPushButton* browse,
                                     QPushButton* add, QPushButton* remove)
    : QObject(list), m_List(list), m_Edit(edit) {
  remove->setEnabled(false);
  connect(list, &QListWidget::itemSelectionChanged, this,
          [list, remove] { remove->setEnabled(!list->selectedItems().isEmpty()); });
  connect(browse, &QPushButton::clicked, this, [this, edit] {
    const QString folder = UiServices::Instance().GetExistingFolder("Выбор папки", edit->text());
    if (folder.isEmpty()) return;
    edit->setText(folder);
    m_bPending = true;
  });
  connect(edit, &QLineEdit::textEdited, this, [this] { m_bPending = true; });
  connect(add, &QPushButton::clicked, this, &TSearchFolderList::Add);
  connect(remove, &QPushButton::clicked, this, &TSearchFolderList::RemoveSelected);
}

QStringList TSearchFolderList::Folders() const {
  QStringList folders;
  for (int row = 0; row < m_List->count(); ++row) folders << m_List->item(row)->text();
  return folders;
}

void TSearchFolderList::Add() {
  const QString folder = m_Edit->text().trimmed();
  if (lb::CanAddSearchFolder(Folders(), folder)) m_List->addItem(folder);
  m_bPending = false;
}

void TSearchFolderList::AddPending() {
  if (m_bPending) Add();
}

void TSearchFolderList::RemoveSelected() {
  for (QListWidgetItem* item : m_List->selectedItems()) delete item;
}
