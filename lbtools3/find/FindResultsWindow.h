// TNewFindTextForm ("Поиск текста. Список найденного..."): the program-wide window
// that lists the lists with matches of the last search and their counts (or why a
// list could not be loaded). A click on a row, or Enter on it, opens or activates that
// list and selects the matching songs. Its rows keep the documents loaded for the
// search until they are opened, cleared or the window hides.
#pragma once

#include "FindText.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

class TNewFindTextForm : public QWidget {
  Q_OBJECT
 public:
  TNewFindTextForm(IListsHost* host, QWidget* parent = nullptr);
  ~TNewFindTextForm() override;

  // The program-wide window, made at the first call (its parent owns it).
  static TNewFindTextForm* Instance(IListsHost* host, QWidget* parent);

  QTreeWidget* ListView1;
  QPushButton* BtnClear;
  QLabel* Label1;

  TFoundLists& Rows() { return m_Rows; }
  // Replaces the rows (the old ones and their documents go) and shows them.
  void SetRows(TFoundLists rows);
  // Shows the window in front.
  void ShowResults();

  void BtnClearClick();
  void RowClick(int row);

 protected:
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fill();

  IListsHost* m_pHost;
  TFoundLists m_Rows;
};
