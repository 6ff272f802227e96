#pragma once
// The main window's side of the configuration routines, for suites that run
// them without the window: statuses and retry boxes recorded, the selected
// address and the answer to a box set by the test.

#include "config.h"

#include <QString>
#include <QStringList>

#include <functional>

class FakeConfigView : public ConfigView {
public:
    explicit FakeConfigView(int selected = -1) : address(selected) {}

    QStringList statuses;
    QStringList boxes; // title + text of every box asked
    int address;       // the selected index, -1 for none
    std::function<bool()> answer = [] { return false; };

    void show_status_now(const QString &text) override { statuses << text; }
    int selected_address() const override { return address; }
    bool ask_retry(const QString &title, const QString &text) override
    {
        boxes << title + text;
        return answer();
    }
};
