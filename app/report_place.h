#pragma once
// Where the commissioned controller stands, for the commissioning sheet:
// "Объект" (the site) and "Присоединение" (the feeder). Both are optional,
// asked before each sheet, and remembered in the configuration file, as the
// next sheet is mostly made on the same site.

#include <QString>

class QWidget;

struct ReportPlace {
    QString site;
    QString feeder;
};

ReportPlace remembered_report_place(const QString &config_path);
// False when the file refused the write; the sheet is made all the same.
bool remember_report_place(const QString &config_path, const ReportPlace &place);

// A small modal dialog with the two fields filled from place; false when
// the operator cancelled, place then unchanged.
bool ask_report_place(QWidget *parent, ReportPlace &place);
