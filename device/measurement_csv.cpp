#include "measurement_csv.h"

#include <QDateTime>

QByteArray csv_header()
{
    return "time,ia,ib,ic,frequency,ain1,ain2\n";
}

QByteArray csv_row(const Measurement &m)
{
    // QDateTime formats with the C locale, and QByteArray::number never
    // groups digits or uses a comma.
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(m.time_ms);
    QByteArray row = t.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")).toLatin1();
    const std::pair<double, int> fields[] = {{m.ia, 3},        {m.ib, 3},   {m.ic, 3},
                                             {m.frequency, 2}, {m.ain1, 2}, {m.ain2, 2}};
    for (const auto &[value, digits] : fields)
        row += ',' + QByteArray::number(value, 'f', digits);
    row += '\n';
    return row;
}
