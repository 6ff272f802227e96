#include "message_box.h"

namespace {

QMessageBox::StandardButton show_box(QWidget *parent, const QString &text, const QString &title,
                                     QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    // Texts carry Windows line breaks; a label wants plain ones.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, title, shown, buttons, parent);
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

} // namespace

MessageBoxFn &message_box_fn()
{
    static MessageBoxFn fn = show_box;
    return fn;
}

QMessageBox::StandardButton message_box(QWidget *parent, const QString &text,
                                        const QString &title,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon)
{
    return message_box_fn()(parent, text, title, buttons, icon);
}
