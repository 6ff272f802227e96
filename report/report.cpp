#include "report.h"

#include "convert.h"

#include <QBuffer>
#include <QFont>
#include <QLocale>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>

namespace {

const QString dash = QStringLiteral("—");

// Cells from column `numbers_from` on are numbers and line up on the right.
QString row(const QStringList &cells, const char *tag = "td", int numbers_from = 99)
{
    QString out = QStringLiteral("<tr>");
    for (int k = 0; k < cells.size(); ++k) {
        const QLatin1String align(k >= numbers_from ? " align=\"right\"" : "");
        out += QStringLiteral("<%1%2>%3</%1>")
                   .arg(QLatin1String(tag), align, cells[k].toHtmlEscaped());
    }
    return out + QStringLiteral("</tr>\n");
}

QString heading_html(const Report &r)
{
    const ParamFile &s = r.settings;
    const QString port = r.port_path.isEmpty()
                             ? r.port
                             : r.port + QStringLiteral(" (") + r.port_path + QStringLiteral(")");
    const auto version = [](const std::optional<Version> &v) {
        return v ? version_text(*v) : dash;
    };
    QString out = QStringLiteral("<h2>Протокол пусконаладки %1</h2>\n<table>\n")
                      .arg(QString::fromUtf8(param_file_device));
    // A field left empty is a line to fill in by hand on the printed sheet.
    const QString blank = QStringLiteral("________________________________");
    out += row({QStringLiteral("Объект:"), r.site.isEmpty() ? blank : r.site});
    out += row({QStringLiteral("Присоединение:"), r.feeder.isEmpty() ? blank : r.feeder});
    const QString date = s.saved.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    out += row({QStringLiteral("Дата:"), s.saved.isValid() ? date : dash});
    out += row({QStringLiteral("Порт:"), port.isEmpty() ? dash : port});
    out += row(
        {QStringLiteral("Адрес устройства:"), s.address >= 0 ? QString::number(s.address) : dash});
    out += row({QStringLiteral("Версия протокола:"), version(s.protocol)});
    out += row({QStringLiteral("Версия ПО:"), version(s.software)});
    return out + QStringLiteral("</table>\n");
}

QString parameters_html(const ParRaws &raws)
{
    QString out = QStringLiteral("<h3>Параметры</h3>\n<table class=\"grid\">\n");
    out += row({QStringLiteral("№"), QStringLiteral("Параметр"), QStringLiteral("Значение"),
                QStringLiteral("Код")},
               "th");
    for (int i = 0; i < par_count; ++i) {
        const int32_t raw = raws[size_t(i)];
        out +=
            row({QString::number(i + 1), par_caption(i), par_display(i, raw), QString::number(raw)},
                "td", 2);
    }
    return out + QStringLiteral("</table>\n");
}

QString live_html(const Measurement &m)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(m.time_ms);
    QString out = QStringLiteral("<h3>Текущие значения на %1</h3>\n<table class=\"grid\">\n")
                      .arg(when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    QStringList captions;
    QStringList values;
    for (const MeasuredField &f : measured_fields) {
        captions << field_caption(f.reg, true);
        values << (m.has(f.reg) ? field_text(m, f).trimmed() : dash);
    }
    out += row(captions, "th");
    out += row(values, "td", 0);
    return out + QStringLiteral("</table>\n");
}

QString changes_html(const Report &r)
{
    QString out =
        QStringLiteral("<h3>Изменения параметров за сеанс</h3>\n<table class=\"grid\">\n");
    out += row(r.change_columns, "th");
    for (const QStringList &change : r.changes)
        out += row(change, "td");
    return out + QStringLiteral("</table>\n");
}

} // namespace

QString report_html(const Report &report)
{
    QString out = QStringLiteral(
        "<html><head><style>"
        "table.grid { border-collapse: collapse; } "
        "table.grid td, table.grid th { border: 1px solid black; padding: 3px 8px; } "
        "td { padding: 2px 8px 2px 0; } th { background-color: #e0e0e0; }"
        "</style></head><body>\n");
    out += heading_html(report);
    out += parameters_html(report.settings.raws);
    if (report.live)
        out += live_html(*report.live);
    if (!report.changes.isEmpty())
        out += changes_html(report);
    out += QStringLiteral("<p><br/>Наладку выполнил: ______________________ "
                          "&nbsp;&nbsp; Подпись: ____________</p>\n");
    return out + QStringLiteral("</body></html>\n");
}

QString write_report(const QString &path, const Report &report)
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setTitle(
            QStringLiteral("Протокол пусконаладки %1").arg(QString::fromUtf8(param_file_device)));
        pdf.setCreator(QStringLiteral("rzt604-modbus"));
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter));
        QTextDocument doc;
        QFont font;
        // Fonts with Cyrillic that Debian and Windows have; the first one found wins.
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                          QStringLiteral("Arial")});
        font.setPointSizeF(10);
        doc.setDefaultFont(font);
        doc.setHtml(report_html(report));
        doc.print(&pdf);
    } // the writer finishes the PDF when it goes
    return save_atomically(path, bytes);
}
