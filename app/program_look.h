#pragma once
// The program's look: one typeface for every window and box, Qt's own
// Russian texts on standard buttons and dialogs.

#include <QFont>

class QApplication;

// MS Sans Serif where it exists, else a sans-serif face with Cyrillic.
QFont ui_font(double points);

// The application font and Qt's Russian translations; call once after the
// QApplication is made.
void apply_program_look(QApplication &app);
