#include "Covers.h"

#include "id3com/ID3ComCover.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"
#include "platform/ImageTypes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

namespace lbtags {

namespace {

// The program's tag object, bound to the file, and its cover interface; held under the
// program-wide tag lock for the whole operation.
class TCoverSession {
 public:
  explicit TCoverSession(const QString& path) : m_Lock(lb::ID3ComLock()) {
    m_Tag = lb::ThreadID3Com();
    if (!m_Tag) return;
    BSTR name = lb::BstrFromQString(path);
    m_Linked = SUCCEEDED(m_Tag->Link(name));
    SysFreeString(name);
    void* cover = nullptr;
    if (m_Linked && SUCCEEDED(m_Tag->QueryInterface(IID_IID3ComCover, &cover)))
      m_Cover = static_cast<IID3ComCover*>(cover);
    void* details = nullptr;
    if (m_Cover && SUCCEEDED(m_Tag->QueryInterface(IID_IID3ComCoverDetails, &details)))
      m_Details = static_cast<IID3ComCoverDetails*>(details);
  }
  ~TCoverSession() {
    if (m_Details) m_Details->Release();
    if (m_Cover) m_Cover->Release();
    if (m_Tag) m_Tag->Clear();
  }
  TCoverSession(const TCoverSession&) = delete;
  TCoverSession& operator=(const TCoverSession&) = delete;

  IID3ComTag* Tag() const { return m_Tag; }
  IID3ComCover* Cover() const { return m_Cover; }
  // Null for a component registered from an earlier build.
  IID3ComCoverDetails* Details() const { return m_Details; }

 private:
  std::lock_guard<std::recursive_mutex> m_Lock;
  IID3ComTag* m_Tag = nullptr;
  IID3ComCover* m_Cover = nullptr;
  IID3ComCoverDetails* m_Details = nullptr;
  bool m_Linked = false;
};

}  // namespace

QString CoverRefusal(const QByteArray& data, const QString& name) {
  if (data.size() > lb::kMaxCoverBytes) return QString::fromUtf8(kImageTooLarge).arg(name);
  if (lb::ImageMimeOf(data).isEmpty()) return QString::fromUtf8(kNotImage).arg(name);
  return QString();
}

bool LoadCoverImage(const QString& path, QByteArray* data, QString* error) {
  data->clear();
  lb::TOpenFailure why = lb::TOpenFailure::None;
  if (!lb::ReadRegularFile(path, lb::kMaxCoverBytes, data, &why)) {
    *error =
        QString::fromUtf8(why == lb::TOpenFailure::TooLarge ? kImageTooLarge : kImageUnreadable)
            .arg(path);
    return false;
  }
  *error = CoverRefusal(*data, path);
  return error->isEmpty();
}

QString CoverCaption(int width, int height, const QString& mime, qint64 bytes) {
  const QString kb = QLocale(QLocale::Russian).toString((bytes + 1023) / 1024);
  return QString::fromUtf8("%1×%2, %3, %4 КБ")
      .arg(width)
      .arg(height)
      .arg(lb::ImageKindName(mime).isEmpty() ? mime : lb::ImageKindName(mime), kb);
}

QString FolderPictureOf(const QString& songPath) {
  const QDir folder = QFileInfo(songPath).absoluteDir();
  // Picture files by their extension, in any case ("Cover.JPG").
  QStringList images;
  for (const QString& name : folder.entryList(QDir::Files | QDir::Readable, QDir::Name)) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == "jpg" || suffix == "jpeg" || suffix == "png" || suffix == "gif" ||
        suffix == "webp")
      images << name;
  }
  // The named ones in this order; one whose bytes are no picture gives way to the next
  // (it is still the answer when none is a picture, so that the user is told of it).
  auto isPicture = [&](const QString& name) {
    QFile file(folder.filePath(name));
    return file.open(QIODevice::ReadOnly) && !lb::ImageMimeOf(file.read(16)).isEmpty();
  };
  QString named;
  for (const char* base : {"cover", "folder", "front"})
    for (const QString& name : images)
      if (QFileInfo(name).completeBaseName().compare(QLatin1String(base), Qt::CaseInsensitive) ==
          0) {
        if (isPicture(name)) return folder.filePath(name);
        if (named.isEmpty()) named = folder.filePath(name);
      }
  if (!named.isEmpty()) return named;
  return images.size() == 1 ? folder.filePath(images.front()) : QString();
}

QString ExportFileName(int number, const QString& songPath, const QByteArray& picture) {
  return QString("%1 - %2%3")
      .arg(number, 2, 10, QLatin1Char('0'))
      .arg(QFileInfo(songPath).completeBaseName(), lb::ImageExtension(lb::ImageMimeOf(picture)));
}

QString SaveCoverPicture(const QByteArray& picture, const QString& path, bool bReplace) {
  if (lb::ImageMimeOf(picture).isEmpty()) return QString::fromUtf8(kCoverSaveNotImage);
  if (bReplace) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(picture) == picture.size() &&
        lb::CommitSaveFile(file))
      return QString();
    return QString::fromUtf8(kCoverSaveError).arg(path);
  }
  // Created here or not at all: a file that is there stays as it is.
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
    return QString::fromUtf8(file.exists() ? kCoverSaveExists : kCoverSaveError).arg(path);
  if (file.write(picture) == picture.size() && file.flush()) return QString();
  file.remove();
  return QString::fromUtf8(kCoverSaveError).arg(path);
}

bool ReadCover(const QString& path, TCover* cover) {
  *cover = TCover{};
  TCoverSession session(path);
  if (!session.Cover()) return false;
  const unsigned char* data = nullptr;
  LONG size = 0;
  BSTR mime = nullptr;
  const HRESULT hr = session.Cover()->ReadCover(&data, &size, &mime);
  if (SUCCEEDED(hr) && size > 0) {
    cover->data = QByteArray(reinterpret_cast<const char*>(data), size);
    cover->mime = lb::QStringFromBstr(mime);
    cover->bCover = hr == S_OK;
    BSTR description = nullptr, stated = nullptr;
    LONG type = -1, encoding = 0;
    if (session.Details() &&
        SUCCEEDED(session.Details()->GetCoverDetails(&description, &type, &encoding, &stated)))
      cover->details = {lb::QStringFromBstr(description), int(type), int(encoding),
                        lb::QStringFromBstr(stated)};
    SysFreeString(description);
    SysFreeString(stated);
  }
  SysFreeString(mime);
  return SUCCEEDED(hr);
}

QString WriteCover(const QString& path, const QByteArray& data, const TCoverDetails* asWas,
                   bool bPutBack) {
  // A cover put back as it was came from the file: of whatever kind, it goes back.
  if (asWas && data.size() > lb::kMaxCoverBytes)
    return QString::fromUtf8(kImageTooLarge).arg(path);
  if (!asWas && !data.isEmpty()) {
    const QString refusal = CoverRefusal(data, path);
    if (!refusal.isEmpty()) return refusal;
  }
  TCoverSession session(path);
  if (!session.Cover()) return QString::fromUtf8(kCoverWriteError).arg(path);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
  const auto size = static_cast<LONG>(data.size());
  HRESULT hr;
  if (data.isEmpty()) {
    hr = session.Cover()->RemoveCover();
  } else if (asWas && session.Details()) {
    BSTR description = lb::BstrFromQString(asWas->description);
    BSTR stated = lb::BstrFromQString(asWas->statedMime);
    hr = bPutBack ? session.Details()->PutCoverBack(bytes, size, description, asWas->type,
                                                    asWas->encoding, stated)
                  : session.Details()->PutCoverAsWas(bytes, size, description, asWas->type,
                                                     asWas->encoding, stated);
    SysFreeString(description);
    SysFreeString(stated);
  } else {
    hr = session.Cover()->PutCover(bytes, size);
  }
  if (SUCCEEDED(hr)) hr = session.Tag()->SaveV2Tag();
  if (SUCCEEDED(hr)) return QString();
  if (hr == ID3COM_E_DAMAGEDTAG)
    return QString::fromUtf8(
               "Тэг ID3v2 файла \"%1\" повреждён и не может быть перезаписан без "
               "потерь: обложка не изменена.")
        .arg(path);
  if (hr == E_ACCESSDENIED) return QString("Файл \"%1\" доступен только для чтения.").arg(path);
  if (const QString refusal = lb::RewriteRefusal(); refusal.contains(path)) return refusal;
  return QString::fromUtf8(kCoverWriteError).arg(path);
}

QString WriteSongCover(TSlSong& song, const QByteArray& data, const TCoverDetails* asWas,
                       bool bPutBack) {
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  const QString path = song.GetPath(true);
  if (!lb::IsTaggedPath(path))
    return QString("Файл \"%1\" не является музыкальным файлом с тэгами: обложка не изменена.")
        .arg(path);
  const QString error = WriteCover(path, data, asWas, bPutBack);
  // The records read the file again (a cover can give a file its first tag). Inside a
  // batch the file may still show its old age while its new content waits to take its
  // place: the stored age is forgotten so that the records read that content.
  if (error.isEmpty() && song.m_FileAge != kAgeNeverSynced) song.m_FileAge = kAgeMissing;
  song.Sync();
  return error;
}

void TCoverEdit::Start(const TCover& cover, bool bBatch) {
  m_bBatch = bBatch;
  m_Original = m_Shown = cover;
  m_Kind = TCoverRequest::Keep;
}

QString TCoverEdit::Load(const QString& path) {
  QByteArray data;
  QString error;
  if (!LoadCoverImage(path, &data, &error)) return error;
  return Put(data, path);
}

QString TCoverEdit::Put(const QByteArray& data, const QString& name) {
  const QString refusal = CoverRefusal(data, name);
  if (!refusal.isEmpty()) return refusal;
  m_Shown = TCover{data, lb::ImageMimeOf(data), true};
  m_Kind = TCoverRequest::Set;
  return QString();
}

void TCoverEdit::Remove() {
  m_Shown = TCover{};
  m_Kind = TCoverRequest::Remove;
}

void TCoverEdit::FromFolder() {
  m_Shown = TCover{};
  m_Kind = TCoverRequest::FromFolder;
}

QString TCoverEdit::SaveAs(const QString& path) const {
  return SaveCoverPicture(m_Shown.data, path, true);
}

QString TCoverEdit::Status() const {
  switch (m_Kind) {
    case TCoverRequest::Remove:
      return QString::fromUtf8(m_bBatch ? kCoverRemoved : kNoCover);
    case TCoverRequest::FromFolder:
      return QString::fromUtf8(kCoverFromFolder);
    default:
      return QString::fromUtf8(m_bBatch ? kCoverKeep : kNoCover);
  }
}

TCoverRequest TCoverEdit::Request() const {
  TCoverRequest r;
  r.kind = m_Kind;
  if (m_Kind == TCoverRequest::Set) r.data = m_Shown.data;
  // Single mode: a picture put back as it was, or a removal of a song without a
  // cover, changes nothing.
  if (!m_bBatch && m_Kind != TCoverRequest::Keep && m_Shown.data == m_Original.data &&
      (m_Kind == TCoverRequest::Set || !m_Original.bCover))
    r = TCoverRequest{};
  return r;
}

}  // namespace lbtags
