#include "port_info.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

// The device itself when the path is a symbolic link; empty when nothing is there.
QString real_device(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

QSerialPortInfo info_of(const QString &device, const QString &path)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        // Windows names the port ("COM3"); elsewhere the device node counts.
        if (info.systemLocation() == device || info.portName() == path)
            return info;
    }
    return {};
}

QStringList known_lines(const QSerialPortInfo &info)
{
    QStringList lines;
    if (info.isNull())
        return lines;
    if (!info.description().isEmpty())
        lines << info.description();
    if (!info.manufacturer().isEmpty())
        lines << info.manufacturer();
    if (!info.serialNumber().isEmpty())
        lines << QStringLiteral("S/N %1").arg(info.serialNumber());
    if (info.hasVendorIdentifier() && info.hasProductIdentifier())
        lines << QStringLiteral("USB %1:%2")
                     .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                     .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
    return lines;
}

} // namespace

QStringList by_id_names(const QString &device_path, const QString &by_id_dir)
{
    const QString device = real_device(device_path);
    QStringList names;
    if (device.isEmpty())
        return names;
    // Symbolic links whose device is gone are listed too (QDir::System), and skipped here.
    const QDir::Filters filter = QDir::Files | QDir::System | QDir::NoDotAndDotDot;
    const QFileInfoList entries = QDir(by_id_dir).entryInfoList(filter, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() && entry.canonicalFilePath() == device)
            names << entry.absoluteFilePath();
    }
    return names;
}

QString port_tooltip(const QString &device_path, const QString &by_id_dir)
{
    QStringList lines{device_path};
#ifdef Q_OS_WIN
    // "COMn" is no file: what Windows knows of it comes from its device
    // manager (QSerialPortInfo asks SetupAPI), under the port's name.
    Q_UNUSED(by_id_dir);
    lines << known_lines(info_of(QString(), device_path));
#else
    const QString device = real_device(device_path);
    if (!device.isEmpty() && device != device_path)
        lines << device;
    lines << known_lines(info_of(device.isEmpty() ? device_path : device, device_path));
    for (const QString &name : by_id_names(device_path, by_id_dir)) {
        if (name != device_path)
            lines << name;
    }
#endif
    return lines.join(QLatin1Char('\n'));
}
