#pragma once
// What the exchange cycle and the reply decoder need from the main window.

#include "convert.h"

#include <QString>

enum class Caption { pr_ver, sw_ver, phAI, phBI, phCI, fr, ain_0, ain_1 };

class LinkView {
public:
    virtual ~LinkView() = default;
    virtual QString status() const = 0;
    virtual void set_status(const QString &text) = 0;
    // Selected index of the slave-address list (the address), -1 when none.
    virtual int selected_address() const = 0;
    virtual QString caption(Caption which) const = 0;
    virtual void set_caption(Caption which, const QString &text) = 0;
    // Parameter box 0..8.
    virtual ParBox &par_box(int index) = 0;
};
