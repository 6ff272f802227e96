#include "measurement_csv.h"

#include "registers.h"

QByteArray csv_header(const CsvLayout &layout)
{
    QByteArray header = "time";
    if (layout.address)
        header += ",address";
    for (const MeasuredField &f : measured_fields)
        header += ',' + QByteArray(f.id);
    return header + '\n';
}

QByteArray csv_time(qint64 ms_since_epoch)
{
    return iso_local_time(ms_since_epoch, true).toLatin1();
}

QByteArray csv_row(const Measurement &m, const CsvLayout &layout)
{
    // QByteArray::number never groups digits or uses a comma.
    QByteArray row = csv_time(m.time_ms);
    if (layout.address)
        row += ',' + QByteArray::number(m.address);
    for (const MeasuredField &f : measured_fields)
        row += ',' + QByteArray::number(field_value(m, f), 'f', f.digits);
    return row + '\n';
}
