#include "program_look.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QFont ui_font(double points)
{
    QFont f;
    // The Cyrillic faces first; anything sans-serif will do where they are missing.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    return f;
}

void apply_program_look(QApplication &app)
{
    QApplication::setFont(ui_font(8.25));
    // The program speaks Russian whatever the desktop's language is.
    auto *qt_ru = new QTranslator(&app);
    if (qt_ru->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qt_ru);
}
