#include "program_look.h"

#include "qt_russian.h"

#include <QApplication>

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
    install_qt_russian(app);
}
