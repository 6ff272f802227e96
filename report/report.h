#pragma once
// The commissioning sheet: what was set in a controller and what it measured,
// on one printable page for the site's records.

#include "param_file.h"

#include <QString>

#include <optional>

struct Report {
    ParamFile settings; // saved: when the sheet was made; address, versions, raws
    QString site;       // "Объект": where the controller stands; may be empty
    QString feeder;     // "Присоединение": the feeder it protects; may be empty
    QString port;       // "COM5"
    QString port_path;  // the device behind it, "/dev/ttyUSB4"
    std::optional<Measurement> live; // the last reading, when there is one
    // Changes of its settings made in this session: the journal's columns
    // and a row a write. No section when there are none.
    QStringList change_columns;
    QList<QStringList> changes;
};

// The sheet as HTML, values written with the default locale's decimal separator.
QString report_html(const Report &report);
// Writes the sheet as a PDF through a temporary file, like save_param_file.
// Needs a QGuiApplication. Returns the error text, empty on success.
QString write_report(const QString &path, const Report &report);
