#include "par_box.h"

#include "par_table.h"

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

void show_value(QLineEdit *box, int index, int32_t raw)
{
    box->setText(par_value_text(index, raw));
    set_colour(box, colour_green);
}

void mark_refused(QLineEdit *box, const QString &why)
{
    set_colour(box, colour_refused);
    box->setToolTip(why);
}

void mark_edited(QLineEdit *box)
{
    set_colour(box, colour_white);
    box->setToolTip(QString());
}
