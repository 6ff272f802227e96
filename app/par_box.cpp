#include "par_box.h"

#include "convert.h"

#include <QColor>
#include <QLineEdit>
#include <QPalette>

void set_colour(QLineEdit *box, QRgb colour)
{
    QPalette p = box->palette();
    p.setColor(QPalette::Base, QColor(colour));
    box->setPalette(p);
}

QRgb colour_of(const QLineEdit *box)
{
    return box->palette().color(QPalette::Base).rgb() & 0xFFFFFF;
}

void show_value(QLineEdit *box, double raw, int digits, double scale, const QString &suffix)
{
    box->setText(format_scaled(raw, scale, digits, suffix));
    set_colour(box, colour_green);
}

void mark_refused(QLineEdit *box)
{
    set_colour(box, colour_refused);
    box->setToolTip(QStringLiteral("В поле нет числа: значение не записано"));
}

void mark_edited(QLineEdit *box)
{
    set_colour(box, colour_white);
    box->setToolTip(QString());
}
