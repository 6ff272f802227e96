#pragma once
// A push button of the monitor's windows: named for tests, and never taking
// Enter from the window.

#include <QPushButton>

inline QPushButton *tool_button(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}
