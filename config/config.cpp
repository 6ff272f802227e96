#include "config.h"

#include "ini_file.h"
#include "os_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <exception>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QString file_name()
{
    return QStringLiteral("тп.ini");
}
QString box_title()
{
    return QStringLiteral("Ошибка открытия файла ");
}

// A whole number 1..255 in decimal digits. A sign, a fraction, an exponent
// or a number out of range is a mistake in the file; taking COM1 or the
// nearest number instead could open another device.
std::optional<uint8_t> port_from_text(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 255)
        return std::nullopt;
    return uint8_t(n);
}

// Control bytes other than tab, line ends, form feed and the old DOS end of
// file mark do not occur in text.
bool looks_binary(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1A) ||
            b == 0x7F)
            return true;
    }
    return false;
}

// Why a symbolic link leads to no file: round in a circle, or to nothing.
QString dead_symlink_reason(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return last_os_error_text();
#else
    Q_UNUSED(path);
#endif
    return QStringLiteral("нет такого файла или папки");
}

} // namespace

QString ini_file_problem(const QString &path)
{
    // Concatenated, not substituted: a path may hold "%1".
    const QString name = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists())
        return name + QStringLiteral(": ссылка не ведёт к файлу (") + dead_symlink_reason(path) +
               QLatin1Char(')');
    if (!info.exists())
        return {};
    if (!info.isFile())
        return name + QStringLiteral(": не обычный файл (папка, канал или устройство)");
    if (info.size() > ini_max_bytes)
        return name + QStringLiteral(": слишком велик для файла настроек (") +
               QString::number(info.size()) + QStringLiteral(" байт)");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return name + QStringLiteral(": не читается (") + last_os_error_text() + QLatin1Char(')');
    const QByteArray bytes = f.read(ini_max_bytes);
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return name + QStringLiteral(": записан в UTF-16; сохраните его в кодировке UTF-8");
    if (looks_binary(bytes))
        return name + QStringLiteral(": не текстовый файл (двоичные данные)");
    return {};
}

std::optional<uint8_t> configured_port_number(const QString &path, QString *why)
{
    const QString com = read_ini_string(path, QStringLiteral("PC config"), QStringLiteral("COM"),
                                        QStringLiteral("1"));
    const std::optional<uint8_t> port = port_from_text(com);
    if (!port && why)
        // Concatenated, not substituted: a path may hold "%1".
        *why = QDir::toNativeSeparators(path) + QStringLiteral(": COM=") + com +
               QStringLiteral(" в разделе [PC config] — не номер порта; "
                              "впишите целое число от 1 до 255");
    return port;
}

void save_config(const QString &path, uint8_t com_port, ConfigView &view)
{
    view.show_status_now(QStringLiteral("Сохранение конфигурации"));
    const QString error = box_title() + file_name() + QStringLiteral(" для записи");
    for (;;) {
        try {
            // A refused write is deliberately not reported.
            write_ini_string(path, QStringLiteral("PC config"), QStringLiteral("COM"),
                             QString::number(com_port));
            write_ini_string(path, QStringLiteral("VRE config"), QStringLiteral("MBSLAD"),
                             QString::number(view.selected_address()));
            break;
        } catch (const std::exception &) {
            if (!view.ask_retry(box_title(), error))
                break;
        }
    }
    view.show_status_now(QString());
}

void read_config(const QString &path, uint8_t &com_port, ConfigView &view)
{
    com_port = 1;
    // A file that is there but cannot be read is not missing: making a new
    // one would lose its "Ports" entries, or write through a broken symbolic link.
    if (!QFileInfo(path).isFile() && ini_file_problem(path).isEmpty()) {
        save_config(path, com_port, view);
        view.show_status_now(QString());
        return;
    }
    view.show_status_now(QStringLiteral("Чтение конфигурации"));
    const QString error = box_title() + file_name() + QStringLiteral(" для чтения\r\n");
    std::optional<uint8_t> port;
    for (;;) {
        QString problem = ini_file_problem(path);
        if (problem.isEmpty() && (port = configured_port_number(path, &problem)))
            break;
        // Cancel leaves the status text standing.
        if (!view.ask_retry(box_title(), error + problem))
            return;
    }
    com_port = *port;
    view.show_status_now(QString());
}
