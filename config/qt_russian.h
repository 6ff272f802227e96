#pragma once
// The program speaks Russian whatever the desktop's language is, Qt's own
// texts (buttons, command-line errors) included.

class QCoreApplication;

// Installs Qt's Russian translation, from Qt's folder or from "translations"
// beside the program (a portable copy); false when neither has it.
bool install_qt_russian(QCoreApplication &app);
