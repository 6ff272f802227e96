#include "measurement_csv.h"

#include "registers.h"

#include <QDateTime>

QByteArray csv_header(const CsvLayout &layout)
{
    QByteArray header = layout.spreadsheet ? "\xEF\xBB\xBFtime" : "time";
    if (layout.address)
        header += layout.separator + QByteArray("address");
    for (const MeasuredField &f : measured_fields) {
        // "ia, А" is one field, quoted where "," separates fields.
        const QByteArray name =
            layout.spreadsheet ? QByteArray(f.id) + ", " + QByteArray(f.unit) : QByteArray(f.id);
        header += layout.separator + (name.contains(layout.separator) ? '"' + name + '"' : name);
    }
    return header + '\n';
}

QByteArray csv_time(qint64 ms_since_epoch)
{
    return iso_local_time(ms_since_epoch, true).toLatin1();
}

namespace {

QByteArray spreadsheet_time(qint64 ms_since_epoch, char decimal)
{
    // QDateTime formats with the C locale.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms_since_epoch);
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + decimal +
           local.toString(QStringLiteral("zzz")).toLatin1();
}

} // namespace

QByteArray csv_row(const Measurement &m, const CsvLayout &layout)
{
    QByteArray row =
        layout.spreadsheet ? spreadsheet_time(m.time_ms, layout.decimal) : csv_time(m.time_ms);
    if (layout.address)
        row += layout.separator + QByteArray::number(m.address);
    for (const MeasuredField &f : measured_fields) {
        // QByteArray::number never groups digits or uses a comma.
        QByteArray value = QByteArray::number(field_value(m, f), 'f', f.digits);
        if (layout.decimal != '.')
            value.replace('.', layout.decimal);
        row += layout.separator + value;
    }
    return row + '\n';
}

CsvLayout spreadsheet_csv_layout(const QLocale &locale)
{
    const bool comma = locale.decimalPoint() == QLatin1String(",");
    return {false, comma ? ';' : ',', comma ? ',' : '.', true};
}

QString plain_csv_filter()
{
    return QStringLiteral("CSV (запятая, точка) (*.csv)");
}

QString spreadsheet_csv_filter(const CsvLayout &layout)
{
    return layout.decimal == ','
               ? QStringLiteral("CSV для таблиц (точка с запятой, десятичная запятая) (*.csv)")
               : QStringLiteral("CSV для таблиц (запятая, десятичная точка) (*.csv)");
}
