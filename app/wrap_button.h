#pragma once
// A push button whose caption wraps onto several lines when it is wider
// than the button, as the EEPROM buttons need at their fixed size.

#include <QPushButton>

class WrapButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
