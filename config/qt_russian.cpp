#include "qt_russian.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool install_qt_russian(QCoreApplication &app)
{
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QString folders[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QCoreApplication::applicationDirPath() +
                                   QStringLiteral("/translations")};
    for (const QString &folder : folders) {
        auto *qt_ru = new QTranslator(&app);
        if (qt_ru->load(ru, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
            return QCoreApplication::installTranslator(qt_ru);
        delete qt_ru;
    }
    return false;
}
