#include "classic_frame.h"

#include <QPainter>

ClassicFrame::ClassicFrame(const QString &title, QWidget *parent) : QGroupBox(title, parent) {}

void ClassicFrame::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    const int line = fm.height() / 2;
    const QRect border = rect().adjusted(0, line, -1, -1);

    // An etched line: shadow, with the light one pixel inside and below it.
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(border.translated(1, 1));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(border);

    const int left = fm.averageCharWidth();
    const QRect caption(left, 0, fm.horizontalAdvance(title()) + 4, fm.height());
    p.fillRect(caption, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter, title());
}
