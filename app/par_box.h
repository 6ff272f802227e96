#pragma once
// The parameter boxes' colours. White: edited or awaiting the controller;
// green: showing a value the controller returned; light red: Enter or
// "Записать всё" refused the text because it holds no number.

#include <QRgb>
#include <QString>

class QLineEdit;

constexpr QRgb colour_white = 0xFFFFFF;
constexpr QRgb colour_green = 0x00FF00;
constexpr QRgb colour_refused = 0xFFB4B4;

void set_colour(QLineEdit *box, QRgb colour);
QRgb colour_of(const QLineEdit *box);

// raw × scale with digits decimals into the box, then green. Setting the
// text runs the box's change handling, which paints it white, so the colour
// goes last.
void show_value(QLineEdit *box, double raw, int digits, double scale, const QString &suffix);

// Light red with a tooltip saying why, until the text changes.
void mark_refused(QLineEdit *box);
// White again, and the refusal's tooltip gone.
void mark_edited(QLineEdit *box);
