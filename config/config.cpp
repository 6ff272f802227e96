#include "config.h"

#include <QFileInfo>
#include <QLocale>

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

bool read_port(const QString &path, uint8_t &port)
{
    try {
        return port_from_text(read_ini_string(path, QStringLiteral("PC config"),
                                              QStringLiteral("COM"), QStringLiteral("1")),
                              port);
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

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
    uint8_t port = 1;
    while (!read_port(path, port)) {
        // Cancel leaves the status text standing.
        if (!view.ask_retry(box_title(), error))
            return;
    }
    com_port = port;
    view.show_status_now(QString());
}
