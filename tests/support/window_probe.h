#pragma once
// The main window as a test reads it: its status texts, the captions of its
// value labels and the colour of its parameter boxes, found by object name.

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QString>
#include <QTest>
#include <QWidget>

const QString text_connected = QStringLiteral("Связь с контроллером RZT-604Д установлена");
const QString text_crc_mismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString text_no_answer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера RZT-604Д");

enum class Caption { pr_ver, sw_ver, phAI, phBI, phCI, fr, ain_0, ain_1 };

inline QString caption(const QWidget *window, Caption which)
{
    static const char *names[] = {"lbl_pr_ver", "lbl_sw_ver", "lbl_phAI",  "lbl_phBI",
                                  "lbl_phCI",   "lbl_fr",     "lbl_ain_0", "lbl_ain_1"};
    const auto *l = window->findChild<QLabel *>(QLatin1String(names[int(which)]));
    return l != nullptr ? l->text() : QStringLiteral("<no label>");
}

inline QLineEdit *par_box(const QWidget *window, int i)
{
    return window->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
}

inline QRgb box_colour(const QWidget *window, int i)
{
    return par_box(window, i)->palette().color(QPalette::Base).rgb() & 0xFFFFFF;
}

// Enter in a parameter box, as the operator does it.
inline void enter(QLineEdit *box, const QString &text)
{
    box->clear();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}
