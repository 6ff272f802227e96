#pragma once
// Every message box of the program goes through here, so that tests can
// answer them without a person clicking.

#include <QMessageBox>

#include <functional>

using MessageBoxFn = std::function<QMessageBox::StandardButton(
    QWidget *parent, const QString &text, const QString &title,
    QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)>;

// The function in use; tests replace it.
MessageBoxFn &message_box_fn();

QMessageBox::StandardButton message_box(QWidget *parent, const QString &text, const QString &title,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon);

// Before the main window is visible there is nothing to place a dialog
// over: such a dialog goes to the middle of the screen. Others stay put.
void centre_on_screen(QWidget *window);

// File choosers go through here too. save: a file to write, else one to read.
// An empty result means the operator cancelled.
using FileDialogFn =
    std::function<QString(QWidget *parent, bool save, const QString &title, const QString &filter)>;
FileDialogFn &file_dialog_fn();
QString choose_file(QWidget *parent, bool save, const QString &title, const QString &filter);
