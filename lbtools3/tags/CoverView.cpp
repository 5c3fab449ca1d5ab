#include "CoverView.h"

#include "platform/ImageTypes.h"
#include "platform/UiServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

using namespace lbtags;

namespace {
constexpr int kBox = 180;  // the picture's box, in pixels
const char* const kPictureFilter = "Картинки (*.jpg *.jpeg *.png *.gif *.webp);;Все файлы (*)";
}  // namespace

TCoverView::TCoverView(QWidget* parent) : QWidget(parent) {
  setObjectName("CoverView");
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  auto* column = new QVBoxLayout(this);
  Picture = new QLabel(this);
  Picture->setObjectName("CoverPicture");
  Picture->setFixedSize(kBox, kBox);
  Picture->setAlignment(Qt::AlignCenter);
  Picture->setWordWrap(true);
  Picture->setFrameShape(QFrame::StyledPanel);
  Picture->setToolTip(QString::fromUtf8("Перетащите сюда картинку или нажмите Ctrl+V"));
  Caption = new QLabel(this);
  Caption->setObjectName("CoverCaption");
  Caption->setAlignment(Qt::AlignCenter);
  column->addWidget(Picture, 0, Qt::AlignHCenter);
  column->addWidget(Caption);
  const auto button = [this](const char* name, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(name);
    return b;
  };
  LoadBtn = button("CoverLoadBtn", "Загрузить...");
  PasteBtn = button("CoverPasteBtn", "Вставить");
  SaveBtn = button("CoverSaveBtn", "Сохранить как...");
  RemoveBtn = button("CoverRemoveBtn", "Удалить");
  auto* row1 = new QHBoxLayout;
  row1->addWidget(LoadBtn);
  row1->addWidget(PasteBtn);
  auto* row2 = new QHBoxLayout;
  row2->addWidget(SaveBtn);
  row2->addWidget(RemoveBtn);
  column->addLayout(row1);
  column->addLayout(row2);
  FolderBox = new QCheckBox(QString::fromUtf8("Картинка из папки песни"), this);
  FolderBox->setObjectName("CoverFolderBox");
  FolderBox->setVisible(false);
  column->addWidget(FolderBox);
  column->addStretch(1);

  connect(LoadBtn, &QPushButton::clicked, this, &TCoverView::LoadClick);
  connect(PasteBtn, &QPushButton::clicked, this,
          [this] { PutFrom(QApplication::clipboard()->mimeData()); });
  connect(SaveBtn, &QPushButton::clicked, this, &TCoverView::SaveClick);
  connect(RemoveBtn, &QPushButton::clicked, this, [this] {
    m_Edit.Remove();
    FolderBox->setChecked(false);
    Show();
  });
  connect(FolderBox, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked)
      m_Edit.FromFolder();
    else
      m_Edit.Start(TCover{}, true);
    Show();
  });
  Show();
}

void TCoverView::Start(const TCover& cover, bool bBatch, const QString& songPath) {
  m_bBatch = bBatch;
  m_SongPath = songPath;
  m_Edit.Start(cover, bBatch);
  FolderBox->setVisible(bBatch);
  SaveBtn->setVisible(!bBatch);
  Show();
}

void TCoverView::Show() {
  const TCover& cover = m_Edit.Shown();
  SaveBtn->setEnabled(!cover.data.isEmpty());
  if (cover.data.isEmpty()) {
    Picture->setPixmap(QPixmap());
    Picture->setText(m_Edit.Status());
    Caption->setText(m_bBatch ? QString() : m_Edit.Status());
    return;
  }
  const QImage image = QImage::fromData(cover.data);
  Picture->setText(QString());
  if (image.isNull()) {
    // A picture this build cannot draw (WebP without its plug-in) is still written.
    Picture->setText(lb::ImageKindName(cover.mime));
  } else {
    Picture->setPixmap(QPixmap::fromImage(image.scaled(
        Picture->size() - QSize(4, 4), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }
  Caption->setText(CoverCaption(image.width(), image.height(), cover.mime, cover.data.size()));
}

void TCoverView::Refused(const QString& error) {
  if (!error.isEmpty())
    UiServices::Instance().MessageBox(error, UiServices::kCaption, MB_OK | MB_ICONERROR);
}

void TCoverView::LoadClick() {
  const QStringList names = UiServices::Instance().GetOpenFileNames(
      QString::fromUtf8("Загрузить картинку"), QString(), QString::fromUtf8(kPictureFilter));
  if (names.isEmpty()) return;
  Refused(m_Edit.Load(names.front()));
  FolderBox->setChecked(false);
  Show();
}

void TCoverView::SaveClick() {
  const TCover& cover = m_Edit.Shown();
  const QString mime = lb::ImageMimeOf(cover.data);
  // Bytes of no known picture kind are not saved: the user hears so before choosing a name.
  if (mime.isEmpty()) {
    Refused(m_Edit.SaveAs(QString()));
    return;
  }
  const QFileInfo song(m_SongPath);
  const QString name = UiServices::Instance().GetSaveFileName(
      QString::fromUtf8("Сохранить картинку"),
      (m_SongPath.isEmpty() ? QStringLiteral("cover")
                            : song.absolutePath() + '/' + song.completeBaseName()) +
          lb::ImageExtension(mime),
      QString::fromUtf8(kPictureFilter));
  if (!name.isEmpty()) Refused(m_Edit.SaveAs(name));
}

void TCoverView::PutFrom(const QMimeData* data, bool bDropped) {
  QString error = QString::fromUtf8(bDropped ? kNoDroppedPicture : kNoClipboardPicture);
  if (data) {
    bool found = false;
    for (const QUrl& url : data->urls()) {
      if (!url.isLocalFile()) continue;
      error = m_Edit.Load(url.toLocalFile());
      found = true;
      break;
    }
    // Picture bytes as the other program offers them: never decoded and encoded again.
    for (const char* mime : {"image/jpeg", "image/png", "image/gif", "image/webp"}) {
      if (found || !data->hasFormat(mime)) continue;
      error = m_Edit.Put(data->data(mime),
                         QString::fromUtf8(bDropped ? "перетащенные данные" : "буфер обмена"));
      found = true;
    }
  }
  Refused(error);
  if (error.isEmpty()) FolderBox->setChecked(false);
  Show();
}

void TCoverView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    PutFrom(QApplication::clipboard()->mimeData());
    return;
  }
  QWidget::keyPressEvent(event);
}

void TCoverView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() || event->mimeData()->hasImage()) event->acceptProposedAction();
}

void TCoverView::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  PutFrom(event->mimeData(), true);
}
