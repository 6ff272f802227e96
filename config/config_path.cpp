#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

constexpr auto case_of_paths =
#ifdef Q_OS_WIN
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

QString ini_name()
{
    return QStringLiteral("тп.ini");
}

// Where packages and installers put programs. A file created beside a
// program there would be left behind by the uninstaller (apt purge, the
// NSIS uninstaller) and, written by root, be every user's file.
QStringList system_folders()
{
#ifdef Q_OS_WIN
    QStringList folders;
    for (const char *name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        const QString folder = qEnvironmentVariable(name);
        if (!folder.isEmpty())
            folders << QDir::cleanPath(QDir::fromNativeSeparators(folder));
    }
    return folders;
#else
    return {QStringLiteral("/usr"), QStringLiteral("/opt")};
#endif
}

bool inside(const QString &dir, const QString &folder)
{
    const QString d = QDir::cleanPath(dir);
    return d.compare(folder, case_of_paths) == 0 ||
           d.startsWith(folder + QLatin1Char('/'), case_of_paths);
}

bool in_system_folder(const QString &program_dir)
{
    // Both the folder as named and where its symbolic links lead.
    const QString real = QFileInfo(program_dir).canonicalFilePath();
    for (const QString &folder : system_folders()) {
        if (inside(program_dir, folder) || (!real.isEmpty() && inside(real, folder)))
            return true;
    }
    return false;
}

// Windows answers "writable" for a folder from its read-only attribute, not
// from who may write it: only a file made there tells the truth.
bool can_create_in(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
#ifdef Q_OS_WIN
    QTemporaryFile probe(dir + QStringLiteral("/rzt604-XXXXXX.tmp"));
    return probe.open();
#else
    return QFileInfo(dir).isWritable();
#endif
}

} // namespace

QString user_config_folder()
{
#ifdef Q_OS_WIN
    QString base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/AppData/Roaming");
#else
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    return base + QStringLiteral("/rzt604-modbus");
}

QString config_path_for(const QString &program_dir)
{
    const QString beside = program_dir + QLatin1Char('/') + ini_name();
    // A portable folder keeps its file, even on a stick its user may not write.
    if (QFileInfo(beside).isFile())
        return beside;
    if (!in_system_folder(program_dir) && can_create_in(program_dir))
        return beside;
    const QString dir = user_config_folder();
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + ini_name();
}

QString config_path()
{
    return config_path_for(QCoreApplication::applicationDirPath());
}
