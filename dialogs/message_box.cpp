#include "message_box.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>

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

QHash<QString, QString> &last_folders()
{
    static QHash<QString, QString> folders;
    return folders;
}

QString show_file_dialog(QWidget *parent, FileChoice &c)
{
    const QString dir = start_folder(c.kind);
    const QString start = c.name.isEmpty() ? dir : QDir(dir).filePath(c.name);
    return c.save
               ? QFileDialog::getSaveFileName(parent, c.title, start, c.filter, &c.chosen_filter)
               : QFileDialog::getOpenFileName(parent, c.title, start, c.filter, &c.chosen_filter);
}

} // namespace

QString start_folder(const QString &kind)
{
    const QString last = last_folders().value(kind);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString filter_suffix(const QString &filter)
{
    static const QRegularExpression ext(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return ext.match(filter).captured(1);
}

FileDialogFn &file_dialog_fn()
{
    static FileDialogFn fn = show_file_dialog;
    return fn;
}

QString choose_file(QWidget *parent, FileChoice &choice)
{
    QString path = file_dialog_fn()(parent, choice);
    if (path.isEmpty())
        return path;
    const QString suffix = filter_suffix(choice.chosen_filter.isEmpty()
                                             ? choice.filter.section(QStringLiteral(";;"), 0, 0)
                                             : choice.chosen_filter);
    if (choice.save && !suffix.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    if (!choice.kind.isEmpty())
        last_folders().insert(choice.kind, QFileInfo(path).absolutePath());
    return path;
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
