// Every test process runs against a private registry, settings file and scratch folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

// Readable Qt texts in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '[' << list.join("\", \"").toStdString() << ']';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << bytes.toHex(' ').toStdString();
}

namespace lbtest {
// Points the registry, the settings file and the XDG folders (and HOME) at the run's
// temporary folder, so no test touches the user's configuration, and gives the named
// objects of this process and its children a namespace of their own.
void PrepareEnvironment();
// A fresh empty folder below the run's temporary folder.
QString NewTempDir();
// The run's temporary folder (registry and settings live there).
QString RunDir();
// The folder that holds the built programs and servers.
QString BinDir();
// Writes bytes to a file (creating folders); false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

// Makes a folder refuse new entries for the life of the object, even for root (through
// the immutable attribute); Ok() is false when neither works here.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const QString& path);
  ~ReadOnlyFolder();
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  bool Ok() const { return Refuses(); }

 private:
  bool Refuses() const;
  QByteArray m_Path;
  bool m_bImmutable = false;
};
// A small file system of its own (a tmpfs; mounting needs root), filled up to the
// last byte on request, for the full-disk cases. Ok() is false when it cannot be
// mounted here; the destructor unmounts it.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(int kilobytes = 64);
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Ok() const { return m_bMounted; }
  QString Path() const { return m_Path; }
  // Takes every free byte with a filler file, then gives back the given number of
  // 4 KiB pages (room for a lock file, say, but not for the file written next).
  void Fill(int sparePages = 0);

 private:
  QString m_Path;
  bool m_bMounted = false;
};
}  // namespace lbtest
