#include "os_error.h"

#include <cerrno>
#include <cstring>

QString os_error_text(int error)
{
    switch (error) {
    case 0:
        return QStringLiteral("неизвестная ошибка");
    case ENOENT:
        return QStringLiteral("нет такого файла или папки");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав доступа");
    case ENOSPC:
        return QStringLiteral("нет места на диске");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("превышена дисковая квота");
#endif
    case EFBIG:
        return QStringLiteral("файл слишком велик");
    case EROFS:
        return QStringLiteral("файловая система только для чтения");
    case EISDIR:
        return QStringLiteral("это папка");
    case ENOTDIR:
        return QStringLiteral("часть пути — не папка");
    case EEXIST:
        return QStringLiteral("файл уже есть");
    case EBUSY:
        return QStringLiteral("устройство или файл занят");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя");
#ifdef ELOOP
    case ELOOP:
        return QStringLiteral("слишком много символических ссылок");
#endif
    case EMFILE:
    case ENFILE:
        return QStringLiteral("открыто слишком много файлов");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("нет такого устройства");
    default:
        break;
    }
    return QStringLiteral("ошибка системы %1 (%2)")
        .arg(error)
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

QString last_os_error_text()
{
    return os_error_text(errno);
}
