// The "Параметры" menu: the nine values to and from files, a comparison with
// a file, and the commissioning sheet.
#include "frm_main.h"

#include "message_box.h"
#include "par_box.h"
#include "param_file.h"
#include "report.h"
#include "report_place.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

namespace {

const QString file_filter = QStringLiteral("Параметры RZT-604Д (*.json);;Все файлы (*)");
const QString pdf_filter = QStringLiteral("PDF (*.pdf)");
constexpr QRgb colour_differs = 0xFFFF80;
const QString not_written_yet =
    QStringLiteral(": в контроллер не записано до «Записать всё в ЭСППЗУ»");

} // namespace

QString FrmMain::default_file_name(const QString &suffix) const
{
    return QStringLiteral("РЗТ604-адр%1-%2.%3")
        .arg(m_line.address())
        .arg(QDate::currentDate().toString(Qt::ISODate), suffix);
}

void FrmMain::inform(const QString &text, QMessageBox::Icon icon)
{
    message_box(this, text, windowTitle(), QMessageBox::Ok, icon);
}

bool FrmMain::confirmed_raws(ParRaws &raws, const QString &what)
{
    QStringList missing;
    for (int i = 0; i < par_count; ++i) {
        // A box shows what the controller holds while it is green, or while
        // it marks a write the controller did not take (it shows what it
        // holds then too).
        const QRgb colour = colour_of(m_boxes[size_t(i)]);
        const bool shown_held = colour == colour_green || colour == colour_not_taken;
        if (shown_held && m_held[size_t(i)])
            raws[size_t(i)] = *m_held[size_t(i)];
        else
            missing << par_caption(i);
    }
    if (missing.isEmpty())
        return true;
    inform(what + QStringLiteral(": не подтверждены контроллером:\n") + missing.join(u'\n'),
           QMessageBox::Warning);
    return false;
}

void FrmMain::mnu_par_save_Click()
{
    ParamFile file;
    if (!confirmed_raws(file.raws, QStringLiteral("Сохранение невозможно")))
        return;
    file.saved = QDateTime::currentDateTime();
    file.address = m_line.address();
    if (m_last_measurement && m_last_measurement->has(202)) {
        file.protocol = m_last_measurement->protocol;
        file.software = m_last_measurement->software;
    }
    FileChoice choice{true,
                      QStringLiteral("Сохранить в файл"),
                      file_filter,
                      default_file_name(QStringLiteral("json")),
                      QStringLiteral("params"),
                      QString()};
    const QString path = choose_file(this, choice);
    if (path.isEmpty())
        return;
    const QString error = save_param_file(path, m_line.table(), file);
    if (!error.isEmpty())
        inform(error, QMessageBox::Critical);
    else
        notify(QStringLiteral("Параметры сохранены в ") + QDir::toNativeSeparators(path));
}

std::optional<ParamFile> FrmMain::open_param_file(const QString &title, QString *chosen)
{
    FileChoice choice{false, title, file_filter, QString(), QStringLiteral("params"), QString()};
    const QString path = choose_file(this, choice);
    if (path.isEmpty())
        return std::nullopt;
    ParamFileRead read = load_param_file(path, m_line.table());
    if (!read.file)
        inform(read.error, QMessageBox::Critical);
    if (chosen != nullptr)
        *chosen = path;
    return read.file;
}

void FrmMain::mnu_par_load_Click()
{
    QString path;
    const std::optional<ParamFile> file =
        open_param_file(QStringLiteral("Загрузить из файла"), &path);
    if (!file)
        return;
    // White: shown, not written; "Записать всё в ЭСППЗУ" writes them. A box
    // whose text does not change is no longer the controller's value either.
    const QString name = QFileInfo(path).fileName();
    for (int i = 0; i < par_count; ++i) {
        QLineEdit *box = m_boxes[size_t(i)];
        box->setText(par_value_text(i, file->raws[size_t(i)]));
        txt_par_Change(i);
        box->setToolTip(QStringLiteral("Из файла ") + name + not_written_yet);
    }
    notify(QStringLiteral("Загружено из ") + name + not_written_yet);
}

// The file is compared with what the controller holds now, read afresh, never
// with what the boxes show: they may hold edits, or another controller's values.
void FrmMain::mnu_par_compare_Click()
{
    const std::optional<ParamFile> file = open_param_file(QStringLiteral("Сравнить с файлом"));
    if (!file)
        return;
    if (!m_line.par_readall()) {
        inform(QStringLiteral("Очередь запросов заполнена: сравнение невозможно"),
               QMessageBox::Warning);
        return;
    }
    m_compare_file = file;
    m_fresh.reset();
    notify(QStringLiteral("Сравнение: чтение параметров из контроллера…"));
}

void FrmMain::finish_compare()
{
    if (!m_compare_file || !m_fresh.all())
        return;
    const ParamFile file = *m_compare_file;
    m_compare_file.reset();
    ParRaws device{};
    for (int i = 0; i < par_count; ++i)
        device[size_t(i)] = *m_held[size_t(i)];
    const QList<ParDifference> diffs = compare_params(device, file.raws);
    if (diffs.isEmpty()) {
        notify(QStringLiteral("Значения контроллера совпадают с файлом"));
        inform(QStringLiteral("Значения контроллера совпадают с файлом."));
        return;
    }
    QStringList lines{QStringLiteral("Отличаются от файла (параметр: контроллер / файл):")};
    for (const ParDifference &d : diffs) {
        const QString device_text = par_value_text(d.index, d.device_raw).trimmed();
        const QString file_text = par_value_text(d.index, d.file_raw).trimmed();
        QLineEdit *box = m_boxes[size_t(d.index)];
        set_colour(box, colour_differs);
        box->setToolTip(QStringLiteral("В файле: ") + file_text);
        lines << par_caption(d.index) + QStringLiteral(": ") + device_text + QStringLiteral(" / ") +
                     file_text;
    }
    inform(lines.join(u'\n'), QMessageBox::Warning);
}

void FrmMain::mnu_report_Click()
{
    Report report;
    if (!confirmed_raws(report.settings.raws, QStringLiteral("Отчёт невозможен")))
        return;
    const QString ini = m_line.session().config_path();
    ReportPlace place = remembered_report_place(ini);
    if (!ask_report_place(this, place))
        return;
    remember_report_place(ini, place);
    report.site = place.site;
    report.feeder = place.feeder;
    FileChoice choice{true,
                      QStringLiteral("Отчёт"),
                      pdf_filter,
                      default_file_name(QStringLiteral("pdf")),
                      QStringLiteral("report"),
                      QString()};
    const QString path = choose_file(this, choice);
    if (path.isEmpty())
        return;
    report.settings.saved = QDateTime::currentDateTime();
    report.settings.address = m_line.address();
    if (m_last_measurement && m_last_measurement->has(202)) {
        report.settings.protocol = m_last_measurement->protocol;
        report.settings.software = m_last_measurement->software;
    }
    report.port = m_line.session().port_name();
    report.port_path = port().device_name(com_port());
    report.live = m_last_measurement;
    const QString error = write_report(path, report);
    if (!error.isEmpty())
        inform(error, QMessageBox::Critical);
    else
        notify(QStringLiteral("Отчёт сохранён в ") + QDir::toNativeSeparators(path));
}
