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

// What a file chooser is asked for.
struct FileChoice {
    bool save = false; // a file to write, else one to read
    QString title;
    // "Параметры RZT-604Д (*.json);;Все файлы (*)"; the first filter's
    // extension is the default one.
    QString filter;
    // The name offered when saving: "РЗТ604-адр1-2026-12-07.json".
    QString name;
    // Files of one kind ("params", "report", "csv", "log", "image") open in
    // the folder where the last one of that kind was chosen, else Documents.
    QString kind;
    // The filter the operator chose, when there are several (set by the chooser).
    QString chosen_filter;
};

// File choosers go through here too; tests replace the function. Its result
// is the path as chosen; an empty one means the operator cancelled.
using FileDialogFn = std::function<QString(QWidget *parent, FileChoice &choice)>;
FileDialogFn &file_dialog_fn();
// The chosen path, with the chosen filter's extension added when a name to
// save has none ("ctrl1" → "ctrl1.json"), so that the file shows up where
// it is looked for later; empty when cancelled.
QString choose_file(QWidget *parent, FileChoice &choice);
// The first extension a filter names: "json" for "Параметры (*.json)".
QString filter_suffix(const QString &filter);
// The folder a chooser of this kind opens in.
QString start_folder(const QString &kind);
