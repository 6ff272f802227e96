#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <cmath>
#include <exception>

namespace {

QString file_name()
{
    return QStringLiteral("тп.ini");
}
QString box_title()
{
    return QStringLiteral("Ошибка открытия файла ");
}

// Decimal text in the user's locale, rounded half to even, first to a 16-bit
// integer and then to a byte; anything else is a failure.
bool port_from_text(const QString &text, uint8_t &port)
{
    bool ok = false;
    const double d = QLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(d))
        return false;
    // The byte range lies inside the 16-bit one, so one check covers both.
    const double whole = std::nearbyint(d);
    if (whole < 0 || whole > 255)
        return false;
    port = static_cast<uint8_t>(whole);
    return true;
}

} // namespace

std::optional<uint8_t> configured_port_number(const QString &path)
{
    try {
        uint8_t port = 1;
        if (port_from_text(read_ini_string(path, QStringLiteral("PC config"), QStringLiteral("COM"),
                                           QStringLiteral("1")),
                           port))
            return port;
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

QString config_path_for(const QString &program_dir)
{
    // An installed program sits in a folder its user may not write, where a
    // save would be refused without a word and the port never remembered.
    if (QFileInfo(program_dir).isWritable())
        return program_dir + QLatin1Char('/') + file_name();
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QStringLiteral("/rzt604-modbus");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + file_name();
}

QString config_path()
{
    return config_path_for(QCoreApplication::applicationDirPath());
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
    if (!QFileInfo(path).isFile()) {
        save_config(path, com_port, view);
        view.show_status_now(QString());
        return;
    }
    view.show_status_now(QStringLiteral("Чтение конфигурации"));
    const QString error = box_title() + file_name() + QStringLiteral(" для чтения\r\n");
    std::optional<uint8_t> port;
    while (!(port = configured_port_number(path))) {
        // Cancel leaves the status text standing.
        if (!view.ask_retry(box_title(), error))
            return;
    }
    com_port = *port;
    view.show_status_now(QString());
}
