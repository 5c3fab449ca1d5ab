// The picture box of the tags editor: the cover scaled to the box with its size, kind
// and weight under it, the buttons that load, paste, save and remove it, and the
// batch choice of each song's folder picture. A thin view over lbtags::TCoverEdit;
// an image file dropped on it, or Ctrl+V in it, sets the picture.
#pragma once

#include "Covers.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QMimeData;
class QPushButton;

class TCoverView : public QWidget {
  Q_OBJECT
 public:
  explicit TCoverView(QWidget* parent = nullptr);

  // songPath: the song shown in single mode (a picture is saved beside it by default).
  void Start(const lbtags::TCover& cover, bool bBatch, const QString& songPath = QString());
  lbtags::TCoverEdit& Edit() { return m_Edit; }

  // Takes a picture from clipboard or drop data: a picture file named in it, else
  // picture bytes of a known kind; tells the user when there is none.
  void PutFrom(const QMimeData* data, bool bDropped = false);

  QLabel* Picture;
  QLabel* Caption;
  QPushButton *LoadBtn, *PasteBtn, *SaveBtn, *RemoveBtn;
  QCheckBox* FolderBox;  // batch mode only

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void LoadClick();
  void SaveClick();
  void Show();
  void Refused(const QString& error);

  lbtags::TCoverEdit m_Edit;
  bool m_bBatch = false;
  QString m_SongPath;
};
