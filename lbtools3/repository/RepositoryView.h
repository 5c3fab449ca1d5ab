// The repository's list view at the left of the main window: four columns over the
// rows of TListsRepository, its selection kept in step with the repository's.
#pragma once

#include "lbtools3/repository/Repository.h"

#include <QAbstractTableModel>
#include <QTableView>

class QHeaderView;

class TRepositoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TRepositoryModel(TListsRepository& repository, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The header that shows the captions: a caption too wide for its section is cut to
  // fit it, with "…".
  void SetHeader(const QHeaderView* header) { m_Header = header; }

 private:
  TListsRepository& m_Repository;
  const QHeaderView* m_Header = nullptr;
};

class TRepositoryView : public QTableView {
  Q_OBJECT

 public:
  explicit TRepositoryView(TListsRepository& repository, QWidget* parent = nullptr);

  TListsRepository& Repository() { return m_Repository; }

  // Column widths and the view's own width (the splitter position): SaveView at the
  // main window's destruction; LoadView at its first showing sets the column widths
  // and returns the width the main window gives the view.
  void SaveView();
  int LoadView();
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ApplySelection();
  void SelectionFromView();

  TListsRepository& m_Repository;
  TRepositoryModel m_Model;
  bool m_bApplying = false;
};
