#include "message_box.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

namespace {

// Qt's translation leaves some of these English; the program is Russian.
void name_buttons(QMessageBox &box)
{
    const std::pair<QMessageBox::StandardButton, const char *> names[] = {
        {QMessageBox::Ok, "ОК"},
        {QMessageBox::Cancel, "Отмена"},
        {QMessageBox::Retry, "Повторить"},
    };
    for (const auto &[which, text] : names) {
        if (QAbstractButton *b = box.button(which))
            b->setText(QString::fromUtf8(text));
    }
}

QMessageBox::StandardButton show_box(QWidget *parent, const QString &text, const QString &title,
                                     QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    // Texts carry Windows line breaks; a label wants plain ones.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, title, shown, buttons, parent);
    name_buttons(box);
    centre_on_screen(&box);
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

QString show_file_dialog(QWidget *parent, bool save, const QString &title, const QString &filter)
{
    return save ? QFileDialog::getSaveFileName(parent, title, QString(), filter)
                : QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

} // namespace

FileDialogFn &file_dialog_fn()
{
    static FileDialogFn fn = show_file_dialog;
    return fn;
}

QString choose_file(QWidget *parent, bool save, const QString &title, const QString &filter)
{
    return file_dialog_fn()(parent, save, title, filter);
}

MessageBoxFn &message_box_fn()
{
    static MessageBoxFn fn = show_box;
    return fn;
}

QMessageBox::StandardButton message_box(QWidget *parent, const QString &text, const QString &title,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon)
{
    return message_box_fn()(parent, text, title, buttons, icon);
}

void centre_on_screen(QWidget *window)
{
    const QWidget *parent = window->parentWidget();
    if (parent != nullptr && parent->isVisible())
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    window->adjustSize();
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
