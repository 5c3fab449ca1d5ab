#include "FileOperation.h"

#include "FileNames.h"
#include "platform/CopyRange.h"
#include "platform/FileSystem.h"
#include "platform/PartialFiles.h"
#include "platform/UiServices.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <utility>
#include <vector>

namespace lb {

namespace {

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

// Both paths name one existing file.
bool SameFile(const QString& a, const QString& b) {
  struct stat sa, sb;
  if (::stat(Native(a).constData(), &sa) != 0 || ::stat(Native(b).constData(), &sb) != 0)
    return false;
  return FileIdOf(sa) == FileIdOf(sb);
}

bool Exists(const QByteArray& path) {
  struct stat st;
  return ::lstat(path.constData(), &st) == 0;
}

// Puts the finished file at target unless something is there already: one rename that
// refuses to replace, or, on file systems without it, a hard link (FAT has neither: a
// rename after a look).
bool PlaceNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.constData(), to.constData()) == 0) {
    ::unlink(from.constData());
    return true;
  }
  if (errno == EEXIST) return false;
  if (Exists(to)) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.constData(), to.constData()) == 0;
}

void Message(const QString& text, unsigned flags) {
  UiServices& ui = UiServices::Instance();
  ui.RunOnMainThread([&] { ui.MessageBox(text, UiServices::kCaption, flags); });
}

}  // namespace

QString FreeNumberedName(const QString& path) {
  const QString folder = FileFolderPart(path), name = FileNamePart(path);
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString base = dot > 0 ? name.left(dot) : name;
  const QString extension = dot > 0 ? name.mid(dot) : QString();
  for (int n = 2;; ++n) {
    const QString candidate = folder + base + " (" + QString::number(n) + ")" + extension;
    if (!Exists(Native(candidate))) return candidate;
  }
}

bool CopyFileSafely(const QString& source, const QString& target, bool bRemoveSource,
                    const TWriteFunction& write, bool bFlush, struct stat* made) {
  const QByteArray src = Native(source), dst = Native(target);
  // Without waiting: a song's name may now be a FIFO or a device, which an open for
  // reading could wait on for ever; only a regular file is copied.
  const int in = ::open(src.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return false;
  struct stat st;
  const bool bStat = ::fstat(in, &st) == 0;
  if (!bStat || !S_ISREG(st.st_mode) || ::fcntl(in, F_SETFL, O_RDONLY) != 0) {
    const int error = !bStat || S_ISREG(st.st_mode) ? errno : S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(in);
    errno = error;
    return false;
  }
  if (Exists(dst)) {
    ::close(in);
    errno = EEXIST;
    return false;
  }
  QByteArray temp;
  const int out = CreatePartialFile(FileFolderPart(target), FileNamePart(target), "lbpart", &temp);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    errno = error;
    return false;
  }
  const int64_t copied = CopyRange(in, 0, out, 0, -1, write);
  struct stat written;
  int error = copied < 0 ? errno : 0;
  if (!error) {
    ::fchmod(out, st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if ((bFlush || bRemoveSource) && ::fsync(out) != 0) error = errno;
    // A copy flushed later with its batch goes to the disk now, while the next files
    // are copied: the batch's flush then waits only for the last of them. A file system
    // that cannot start it leaves it all to that flush; a failed write fails the copy.
    if (!error && !bFlush && !bRemoveSource &&
        ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE) != 0 && errno != EINVAL &&
        errno != ENOSYS && errno != EOPNOTSUPP && errno != ESPIPE)
      error = errno;
    if (!error &&
        (::fstat(out, &written) != 0 || written.st_size != st.st_size || copied != st.st_size))
      error = EIO;
    // The time goes on last: nothing writes the file after it.
    if (!error && ::futimens(out, times) != 0) error = errno;
  }
  if (::close(out) != 0 && !error) error = errno;
  ::close(in);
  if (!error && !PlaceNoReplace(temp, dst)) error = errno;
  if (error) {
    ::unlink(temp.constData());
    errno = error;
    return false;
  }
  if (bRemoveSource && ::unlink(src.constData()) != 0) {
    // The move failed: the file stays where it was, the copy goes.
    error = errno;
    ::unlink(dst.constData());
    errno = error;
    return false;
  }
  if (made) *made = written;
  return true;
}

bool MoveFileNoReplace(const QString& source, const QString& target, const TWriteFunction& write,
                       bool* renamed) {
  const QByteArray src = Native(source), dst = Native(target);
  bool bRenamed = false;
  if (!renamed) renamed = &bRenamed;
  *renamed = false;
  if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
    return *renamed = true;
  if (errno == EXDEV) return CopyFileSafely(source, target, true, write);
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (Exists(dst)) {
    errno = EEXIST;
    return false;
  }
  if (::rename(src.constData(), dst.constData()) == 0) return *renamed = true;
  return errno == EXDEV ? CopyFileSafely(source, target, true, write) : false;
}

bool TFileOperation::Attempt(bool bMove, const QString& source, const QString& target,
                             const struct stat* known) {
  errno = 0;
  bool ok, renamed = false;
  struct stat made;
  if (!bMove)
    ok = CopyFileSafely(source, target, false, m_Write, false, &made);
  else if (m_bMoveByCopy)
    ok = CopyFileSafely(source, target, true, m_Write);
  else
    ok = MoveFileNoReplace(source, target, m_Write, &renamed);
  // A target that is the source under another name (a link, a folder reached twice)
  // is the file itself: nothing to do, and never to be deleted as "existing". The look
  // keeps the cause: a link to nothing is a taken name, not a missing file.
  if (!ok && errno == EEXIST) {
    if (SameFile(source, target)) {
      Produced(target, false);
      return true;
    }
    errno = EEXIST;
  }
  if (!ok) return false;
  // A renamed file is the source under its new name: the same file, whose mode is the
  // owner's to keep. Its identity is the caller's look at it, when there was one;
  // otherwise it is taken only should a later target meet a taken name (rare), which
  // spares a look at every moved file.
  if (renamed) {
    if (known)
      m_Produced.insert(FileIdOf(*known));
    else
      m_Unlooked << target;
    return true;
  }
  // A copy was looked at as it was written. A move between file systems keeps the
  // file's mode, as a rename does: only a copy is made writable.
  const dev_t device = Produced(target, !bMove, !bMove ? &made : nullptr);
  if (!bMove) m_Unflushed.emplace_back(device, target);
  return true;
}

bool TFileOperation::FlushCopies(QStringList* failed) {
  // One flush of each file system the copies went to, rather than one a copy.
  std::map<dev_t, QStringList> copies;
  for (auto& [device, copy] : std::exchange(m_Unflushed, {})) copies[device] << copy;
  bool ok = true;
  for (const auto& [device, files] : copies) {
    // Any copy of the file system serves (one may have been taken away meanwhile).
    int fd = -1;
    for (qsizetype n = 0; fd < 0 && n < files.size(); ++n)
      fd = ::open(Native(files[n]).constData(), O_RDONLY | O_CLOEXEC);
    const bool flushed = fd >= 0 && (m_Flush ? m_Flush(fd) : ::syncfs(fd)) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (flushed) continue;
    // A copy that may not be on the disk is not left to pass for a whole one, unless it
    // took the place of a file now in the trash: removing it too would leave nothing
    // under the name. The message names what is left.
    QStringList kept;
    bool bReplaced = false;
    for (const QString& copy : files) {
      const bool bReplacing = m_Replaced.contains(copy);
      bReplaced = bReplaced || bReplacing;
      if (bReplacing || ::unlink(Native(copy).constData()) != 0) kept << copy;
    }
    if (failed) *failed << files;
    ok = false;
    m_nFailed += int(files.size());
    QString text = "Не удалось записать копии на диск (" + QString::number(files.size()) +
                   "), например\n" + files.first() + "\n" + SystemErrorText(error);
    if (kept.isEmpty()) {
      text += "\nЭти копии удалены, исходные файлы на месте.";
    } else {
      text += "\nИсходные файлы на месте. Остались копии, которые могут быть неполными (" +
              QString::number(kept.size()) + "), например\n" + kept.first();
      if (bReplaced) text += "\nФайлы, которые копии заменили, находятся в корзине.";
    }
    Message(text, MB_OK | MB_ICONERROR);
  }
  return ok;
}

dev_t TFileOperation::Produced(const QString& target, bool bMadeHere, const struct stat* known) {
  // One look at the file serves both: a file this run put there that is read-only
  // (from a disc) is made writable, and the file joins those of this run.
  struct stat st;
  if (known)
    st = *known;
  else if (::stat(Native(target).constData(), &st) != 0)
    return 0;
  if (bMadeHere && !(st.st_mode & S_IWUSR))
    ::chmod(Native(target).constData(), (st.st_mode & 07777) | S_IWUSR);
  m_Produced.insert(FileIdOf(st));
  return st.st_dev;
}

bool TFileOperation::DeleteTarget(const QString& target) {
  // The overwritten file can still be had back from the trash.
  QString why;
  if (MoveToTrash(target, &why)) return true;
  Message("Не удаётся удалить файл\n" + target + (why.isEmpty() ? QString() : "\n" + why),
          MB_OK | MB_ICONERROR);
  return false;
}

bool TFileOperation::MustKeep(const QString& target) {
  TFileId id;
  if (FileIdentity(target, &id)) {
    for (const QString& renamed : std::exchange(m_Unlooked, {})) {
      TFileId produced;
      if (FileIdentity(renamed, &produced)) m_Produced.insert(produced);
    }
    if (m_Produced.contains(id)) return true;
  }
  bool bListed = false;
  if (m_IsListed) UiServices::Instance().RunOnMainThread([&] { bListed = m_IsListed(target); });
  return bListed;
}

int TFileOperation::MoveOrCopy(bool bMove, const QString& source, QString& target,
                               const struct stat* known) {
  if (source == target) return frDone;
  for (;;) {
    if (Attempt(bMove, source, target, known)) return frDone;
    TFileErrorInfo info{source, target, SystemErrorText(errno), errno == EEXIST};
    auto skipped = [&] {
      if (!info.targetExists) ++m_nFailed;
      return frSkipped;
    };
    // Overwrites the target, or finds another name when it must stay; false when the
    // target could not be removed (the user was told).
    auto overwrite = [&] {
      if (!MustKeep(target)) {
        if (!DeleteTarget(target)) return false;
        m_Replaced.insert(target);
        return true;
      }
      target = FreeNumberedName(target);
      m_Renumbered << target;
      return true;
    };
    bool bAttempt = false;
    while (!bAttempt) {
      if (m_bOverwriteAll && info.targetExists) {
        // A target that cannot be deleted is put to the user rather than tried forever.
        if (overwrite()) break;
      } else if (m_bSkipAllErrors) {
        return skipped();
      } else if (m_bSkipAllExisting && info.targetExists) {
        return frSkipped;
      }
      QString newName = FileNamePart(target);
      int choice = fcCancel;
      UiServices::Instance().RunOnMainThread(
          [&] { choice = m_pPrompt ? m_pPrompt->Ask(info, newName) : int(fcCancel); });
      switch (choice) {
        case fcRetry:
          bAttempt = true;
          break;
        case fcNewName:
          if (HasRefusedCharacter(newName)) {
            Message("В имени файла присутствуют недопустимые символы", MB_OK | MB_ICONERROR);
            break;
          }
          target = FileFolderPart(target) + newName;
          bAttempt = true;
          break;
        case fcOverwriteAll:
          m_bOverwriteAll = true;
          [[fallthrough]];
        case fcOverwrite:
          // A target that cannot be removed even now fails this file instead of
          // being asked about again and again.
          if (!overwrite()) {
            ++m_nFailed;
            return frSkipped;
          }
          bAttempt = true;
          break;
        case fcSkipAllErrors:
          m_bSkipAllErrors = true;
          return skipped();
        case fcSkip:
          return skipped();
        case fcSkipAllExisting:
          m_bSkipAllExisting = true;
          return frSkipped;
        default:
          return frCancelled;
      }
    }
  }
}

bool CreateDirectoryAsking(IDirErrorPrompt* prompt, QString& path) {
  for (;;) {
    if (::mkdir(Native(path).constData(), 0777) == 0) return true;
    const QString error = SystemErrorText(errno);
    for (;;) {
      QString newName = FileNamePart(path);
      int choice = dcCancel;
      UiServices::Instance().RunOnMainThread(
          [&] { choice = prompt ? prompt->Ask(path, error, newName) : int(dcCancel); });
      if (choice == dcCancel) return false;
      if (choice == dcNewName) {
        if (HasRefusedCharacter(newName)) {
          Message("В имени директории присутствуют недопустимые символы", MB_OK | MB_ICONERROR);
          continue;
        }
        path = FileFolderPart(path) + newName;
      }
      break;
    }
  }
}

}  // namespace lb
