#include "SystemError.h"

#include <cerrno>
#include <cstring>

namespace lb {

QString SystemErrorText(int error) {
  switch (error) {
    case 0:
      return QString();
    case EEXIST:
      return "Файл с таким именем уже существует";
    case EACCES:
    case EPERM:
      return "Нет прав доступа к файлу или папке";
    case ENOSPC:
      return "Недостаточно места на диске";
    case EDQUOT:
      return "Исчерпана дисковая квота";
    case EROFS:
      return "Диск доступен только для чтения";
    case ENOENT:
      return "Файл или папка не найдены";
    case ENXIO:
      return "Это не обычный файл (канал или устройство)";
    case EISDIR:
      return "Это папка, а не файл";
    case ENOTDIR:
      return "Часть пути не является папкой";
    case ENOTEMPTY:
      return "Папка не пуста";
    case ENAMETOOLONG:
      return "Слишком длинное имя файла или путь";
    case ELOOP:
      return "Слишком много символических ссылок в пути";
    case EIO:
      return "Ошибка ввода-вывода (диск неисправен или отключён)";
    case EFBIG:
      return "Файл слишком велик для этого диска";
    case EBUSY:
    case ETXTBSY:
      return "Файл занят другой программой";
    case EMFILE:
    case ENFILE:
      return "Открыто слишком много файлов";
    case ENOMEM:
      return "Недостаточно памяти";
    case EXDEV:
      return "Файл и цель на разных дисках";
    case EMLINK:
      return "Слишком много ссылок на файл или папку";
    case EINVAL:
      return "Недопустимое имя или действие для этой файловой системы";
    case EOPNOTSUPP:
    case ENOSYS:
      return "Файловая система не поддерживает это действие";
    case ESTALE:
      return "Файл изменён или удалён другой программой";
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
      return "Сетевой диск не отвечает";
    default: {
      const char* name = ::strerrorname_np(error);
      return "Системная ошибка " + QString::number(error) +
             (name ? " (" + QString::fromLatin1(name) + ")" : QString());
    }
  }
}

}  // namespace lb
