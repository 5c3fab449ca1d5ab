// Name lookups on music discs. Discs burned on Windows arrive with names in any case,
// and their catalogs name files without regard to case, so every path component is
// found by listing its folder and taking the entry whose name matches without case.
#pragma once

#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace lb {

enum class DiscEntryKind { Any, File, Folder };

// folder joined with name by exactly one "/".
inline QString JoinDiscPath(const QString& folder, const QString& name) {
  if (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}

inline bool IsDiscEntryOfKind(const QFileInfo& info, DiscEntryKind kind) {
  switch (kind) {
    case DiscEntryKind::File:
      return info.exists() && !info.isDir();
    case DiscEntryKind::Folder:
      return info.isDir();
    case DiscEntryKind::Any:
      break;
  }
  return info.exists();
}

// The path of the entry of folder whose name equals name without regard to case and
// that is of the kind asked for; the entry spelled exactly as asked wins. Empty when
// there is none.
inline QString FindDiscEntry(const QString& folder, const QString& name,
                             DiscEntryKind kind = DiscEntryKind::Any) {
  if (name.isEmpty()) return {};
  QString exact = JoinDiscPath(folder, name);
  if (IsDiscEntryOfKind(QFileInfo(exact), kind)) return exact;
  QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
  const QStringList names = dir.entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& candidate : names) {
    if (candidate.compare(name, Qt::CaseInsensitive) != 0) continue;
    QString path = JoinDiscPath(folder, candidate);
    if (IsDiscEntryOfKind(QFileInfo(path), kind)) return path;
  }
  return {};
}

// Resolves a relative name whose components are separated by backslashes (as catalogs
// and discs burned on Windows hold them) or slashes, component by component without
// regard to case. The last component must be of the kind asked for, the others are
// folders. Empty when any component is missing.
inline QString ResolveDiscPath(const QString& root, const QString& relative,
                               DiscEntryKind kind = DiscEntryKind::Any) {
  const QStringList parts = QString(relative)
                                .replace(QLatin1Char('\\'), QLatin1Char('/'))
                                .split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (parts.isEmpty()) return {};
  QString path = root;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    bool last = i == parts.size() - 1;
    path = FindDiscEntry(path, parts[i], last ? kind : DiscEntryKind::Folder);
    if (path.isEmpty()) return {};
  }
  return path;
}

// The song's path spelled from the disc root (the root, then the part of the song's
// path below it) when the song lies below the root folder, whatever route reaches
// either: a symbolic link to the disc, a linked folder on the song's path, "..". The
// song's folders are compared with the root by identity, a whole component at a time.
// Empty when the song lies elsewhere or the root is no folder.
inline QString PathFromDiscRoot(const QString& root, const QString& song) {
  TFileId rootId;
  if (root.isEmpty() || !FileIdentity(root, &rootId)) return {};
  for (qsizetype slash = song.lastIndexOf(QLatin1Char('/')); slash >= 0;
       slash = slash > 0 ? song.lastIndexOf(QLatin1Char('/'), slash - 1) : -1) {
    TFileId id;
    const QString folder = slash == 0 ? QStringLiteral("/") : song.left(slash);
    if (FileIdentity(folder, &id) && id == rootId) return JoinDiscPath(root, song.mid(slash + 1));
  }
  return {};
}

}  // namespace lb
