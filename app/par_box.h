#pragma once
// The parameter boxes' colours. White: edited or awaiting the controller;
// green: showing a value the controller returned; light red: Enter or
// "Записать всё" refused the text because it holds no number.

#include <QRgb>
#include <QString>

#include <cstdint>

class QLineEdit;

constexpr QRgb colour_white = 0xFFFFFF;
constexpr QRgb colour_green = 0x00FF00;
constexpr QRgb colour_refused = 0xFFB4B4;
// The controller echoed a write but its memory holds another value.
constexpr QRgb colour_not_taken = 0xFFC864;

void set_colour(QLineEdit *box, QRgb colour);
QRgb colour_of(const QLineEdit *box);

// Parameter index's raw value into its box as the box shows values, then
// green. Setting the text runs the box's change handling, which paints it
// white, so the colour goes last.
void show_value(QLineEdit *box, int index, int32_t raw);

// Light red with a tooltip saying why, until the text changes.
void mark_refused(QLineEdit *box,
                  const QString &why = QStringLiteral("В поле нет числа: значение не записано"));
// White again, and the refusal's tooltip gone.
void mark_edited(QLineEdit *box);
