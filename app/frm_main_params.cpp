// The "Параметры" menu: the nine values to and from files, a comparison with
// a file, and the commissioning sheet.
#include "frm_main.h"

#include "message_box.h"
#include "param_file.h"
#include "report.h"
#include "report_place.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <algorithm>

namespace {

const QString file_filter = QStringLiteral("Параметры RZT-604Д (*.json);;Все файлы (*)");
const QString pdf_filter = QStringLiteral("PDF (*.pdf)");
const QString not_written_yet =
    QStringLiteral(": в контроллер не записано до «Записать всё в ЭСППЗУ»");

} // namespace

QString FrmMain::edits_left_out() const
{
    const QList<int> edited = m_par->edited_boxes();
    if (edited.isEmpty())
        return {};
    QStringList names;
    for (int i : edited)
        names << QStringLiteral("«%1»").arg(par_caption(i));
    return QStringLiteral(" (значения контроллера; не записанные изменения не вошли: %1)")
        .arg(names.join(QStringLiteral(", ")));
}

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
    const ControllerModel *model = m_line.address() >= 0 ? &m_line.selected() : nullptr;
    QStringList missing;
    for (int i = 0; i < par_count; ++i) {
        // What the controller holds, as read from its memory; what the boxes
        // show may be edits.
        const auto held = model ? model->held(i) : std::nullopt;
        if (held)
            raws[size_t(i)] = *held;
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
    if (const auto versions = m_line.selected().versions()) {
        file.protocol = versions->first;
        file.software = versions->second;
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
        notify(QStringLiteral("Параметры сохранены в ") + QDir::toNativeSeparators(path) +
               edits_left_out());
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
    // Shown, not written; "Записать всё в ЭСППЗУ" writes them.
    const QString name = QFileInfo(path).fileName();
    for (int i = 0; i < par_count; ++i)
        m_par->put(i, par_value_text(i, file->raws[size_t(i)]),
                   QStringLiteral("Из файла ") + name + not_written_yet);
    notify(QStringLiteral("Загружено из ") + name + not_written_yet);
}

// The file is compared with what the controller holds now, read afresh, never
// with what the boxes show: they may hold edits, or another controller's values.
void FrmMain::mnu_par_compare_Click()
{
    const std::optional<ParamFile> file = open_param_file(QStringLiteral("Сравнить с файлом"));
    if (!file)
        return;
    if (!m_line.compare(file->raws)) {
        inform(QStringLiteral("Очередь запросов заполнена: сравнение невозможно"),
               QMessageBox::Warning);
        return;
    }
    notify(QStringLiteral("Сравнение: чтение параметров из контроллера…"), true);
}

void FrmMain::compare_ended(const OperationEnd &end)
{
    const ControllerModel &model = m_line.selected();
    QStringList lines;
    if (!end.no_answer.isEmpty() || !end.refused.isEmpty()) {
        QList<int> missing = end.no_answer + end.refused;
        std::sort(missing.begin(), missing.end());
        QStringList names;
        for (int i : missing)
            names << par_caption(i);
        notify(QStringLiteral("Сравнение не закончено: контроллер не ответил"));
        inform(QStringLiteral("Сравнение не закончено: не прочитаны из контроллера:\n") +
                   names.join(u'\n'),
               QMessageBox::Warning);
        return;
    }
    const QList<int> edited = m_par->edited_boxes();
    const QString kept =
        edited.isEmpty()
            ? QString()
            : QStringLiteral("\n\nИзменённые поля не заменены значениями контроллера (Esc — "
                             "показать): %1")
                  .arg(edited.size());
    if (end.differ.isEmpty()) {
        notify(QStringLiteral("Значения контроллера совпадают с файлом"));
        inform(QStringLiteral("Значения контроллера совпадают с файлом.") + kept);
        return;
    }
    lines << QStringLiteral("Отличаются от файла (параметр: контроллер / файл):");
    QList<int> differ = end.differ;
    std::sort(differ.begin(), differ.end());
    for (int i : differ) {
        const ParState &p = model.par(i);
        const QString device_text =
            p.held ? par_value_text(i, *p.held).trimmed() : QStringLiteral("?");
        const QString file_text =
            p.file_value ? par_value_text(i, *p.file_value).trimmed() : QStringLiteral("?");
        lines << par_caption(i) + QStringLiteral(": ") + device_text + QStringLiteral(" / ") +
                     file_text;
    }
    notify(QStringLiteral("Сравнение: отличаются от файла: %1").arg(differ.size()));
    inform(lines.join(u'\n') + kept, QMessageBox::Warning);
}

void FrmMain::mnu_report_Click()
{
    Report report;
    if (!confirmed_raws(report.settings.raws, QStringLiteral("Отчёт невозможен")))
        return;
    const QString ini = m_line.config_path();
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
    const ControllerModel &model = m_line.selected();
    if (const auto versions = model.versions()) {
        report.settings.protocol = versions->first;
        report.settings.software = versions->second;
    }
    report.port = m_line.port_name();
    report.port_path = port().device_name(com_port());
    report.live = model.measurement();
    for (const JournalColumn &c : journal_columns) {
        if (qstrcmp(c.key, "address") != 0)
            report.change_columns << QString::fromUtf8(c.caption);
    }
    for (const JournalEntry &e : std::as_const(m_changes)) {
        if (journal_address(e) != m_line.address())
            continue;
        QStringList row;
        for (const JournalColumn &c : journal_columns) {
            if (qstrcmp(c.key, "address") != 0)
                row << c.text(e);
        }
        report.changes << row;
    }
    const QString error = write_report(path, report);
    if (!error.isEmpty())
        inform(error, QMessageBox::Critical);
    else
        notify(QStringLiteral("Отчёт сохранён в ") + QDir::toNativeSeparators(path) +
               edits_left_out());
}
