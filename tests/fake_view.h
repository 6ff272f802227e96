#pragma once
// The window as the link sees it, without widgets. A box's text change paints
// it white, as the real box's change handler does.

#include "link_view.h"

#include <QStringList>

#include <array>
#include <map>

class FakeParBox : public ParBox {
public:
    QString value = QStringLiteral("-");
    QRgb colour = 0xC0C0C0; // the system's window background until touched
    QString text() const override { return value; }
    void set_text(const QString &text) override
    {
        value = text;
        colour = colour_white;
    }
    void set_colour(QRgb c) override { colour = c; }
};

class FakeView : public LinkView {
public:
    QString status_text;
    QStringList status_history;
    int address = 1;
    std::map<Caption, QString> captions;
    std::array<FakeParBox, 9> boxes;

    QString status() const override { return status_text; }
    void set_status(const QString &text) override
    {
        status_text = text;
        status_history.append(text);
    }
    int selected_address() const override { return address; }
    QString caption(Caption which) const override
    {
        const auto it = captions.find(which);
        return it == captions.end() ? QStringLiteral("-") : it->second;
    }
    void set_caption(Caption which, const QString &text) override { captions[which] = text; }
    ParBox &par_box(int index) override { return boxes[size_t(index)]; }
};
