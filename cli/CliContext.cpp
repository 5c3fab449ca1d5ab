#include "CliContext.h"

#include "lbtools3/model/M3uList.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "lbtools3/model/ID3ComAccess.h"

int CliUiServices::MessageBox(const QString& text, const QString&, unsigned flags) {
  const unsigned type = flags & MB_TYPEMASK;
  const bool question = type == MB_YESNO || type == MB_YESNOCANCEL || type == MB_OKCANCEL;
  int answer = !question        ? IDOK
               : m_Context.bYes ? (type == MB_OKCANCEL ? IDOK : IDYES)
                                : (type == MB_OKCANCEL ? IDCANCEL : IDNO);
  m_Context.err << text;
  if (question) m_Context.err << (answer == IDYES || answer == IDOK ? " — Да" : " — Нет");
  m_Context.err << Qt::endl;
  return answer;
}

int CliUiServices::AskButtons(const QString& text, const QString&, unsigned buttons, unsigned) {
  int answer = m_Context.bYes ? ((buttons & abYes) ? IDYES : IDYESTOALL)
                              : ((buttons & abNo) ? IDNO : IDCANCEL);
  m_Context.err << text << (answer == IDYES || answer == IDYESTOALL ? " — Да" : " — Нет")
                << Qt::endl;
  return answer;
}

int CliUsageError(CliContext& c, const QString& text) {
  c.err << text << Qt::endl << "Справка: lbtools3-cli --help" << Qt::endl;
  return 2;
}

bool CliAttachID3Com(CliContext& c) {
  HRESULT hr = lb::AttachCurrentThreadToID3Com();
  if (SUCCEEDED(hr)) return true;
  c.err << "Не удалось создать компонент ID3Com (код 0x"
        << QString::number(static_cast<uint32_t>(hr), 16).toUpper()
        << "). Зарегистрируйте его: lbregsvr libid3com.so" << Qt::endl;
  return false;
}

QString CliAbsolutePath(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool CliFolders(CliContext& c, const QStringList& args, QStringList* folders) {
  for (const QString& arg : args) {
    // ".." is left to the file system: "link/.." is the folder above the link's target.
    const QString absolute = QFileInfo(arg).absoluteFilePath();
    const QString folder =
        absolute.split(u'/').contains("..") ? absolute : QDir::cleanPath(absolute);
    if (!QFileInfo(folder).isDir()) {
      c.err << "Папка не найдена: " << folder << Qt::endl;
      return false;
    }
    *folders << folder;
  }
  return true;
}

bool CliLoadList(CliContext& c, const QString& path, TSlDocument& doc) {
  doc.SetFileName(CliAbsolutePath(path));
  if (doc.Load(false)) return true;
  c.err << "Лист не загружен: " << path << Qt::endl;
  return false;
}

bool CliSaveList(CliContext& c, TSlDocument& doc) {
  if (doc.Save(false)) return true;
  c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
  return false;
}

bool CliParseRows(CliContext& c, const QString& text, int count, std::vector<int>* rows) {
  if (text.trimmed().isEmpty()) {
    for (int n = 0; n < count; ++n) rows->push_back(n);
    return true;
  }
  for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
    const QStringList ends = part.split('-');
    bool okFirst = false, okLast = false;
    const int first = ends[0].trimmed().toInt(&okFirst);
    const int last = ends.size() == 2 ? ends[1].trimmed().toInt(&okLast) : first;
    if (ends.size() == 1) okLast = okFirst;
    if (ends.size() > 2 || !okFirst || !okLast || first < 1 || last > count || first > last) {
      c.err << "Нет песен с номерами " << part << " (в листе " << count << ")" << Qt::endl;
      return false;
    }
    for (int n = first; n <= last; ++n) rows->push_back(n - 1);
  }
  std::sort(rows->begin(), rows->end());
  rows->erase(std::unique(rows->begin(), rows->end()), rows->end());
  return true;
}
