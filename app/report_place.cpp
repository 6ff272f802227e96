#include "report_place.h"

#include "config.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString section = QStringLiteral("Report");
const QString site_key = QStringLiteral("Site");
const QString feeder_key = QStringLiteral("Feeder");
// The profile file keeps at most 254 characters of a value.
constexpr int max_chars = 120;

QLineEdit *field(QWidget *parent, const char *name, const QString &text)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(max_chars);
    edit->setMinimumWidth(320);
    return edit;
}

} // namespace

ReportPlace remembered_report_place(const QString &config_path)
{
    return {read_ini_string(config_path, section, site_key, QString()),
            read_ini_string(config_path, section, feeder_key, QString())};
}

bool remember_report_place(const QString &config_path, const ReportPlace &place)
{
    const bool site = write_ini_string(config_path, section, site_key, place.site.trimmed());
    const bool feeder = write_ini_string(config_path, section, feeder_key, place.feeder.trimmed());
    return site && feeder;
}

bool ask_report_place(QWidget *parent, ReportPlace &place)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("report_place"));
    dialog.setWindowTitle(QStringLiteral("Отчёт"));
    QLineEdit *site = field(&dialog, "txt_site", place.site);
    QLineEdit *feeder = field(&dialog, "txt_feeder", place.feeder);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("ОК"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // The rows' captions become the fields' buddies: Alt+О, Alt+П, and the
    // names a screen reader gives them.
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("&Объект:"), site);
    form->addRow(QStringLiteral("&Присоединение:"), feeder);
    form->addRow(buttons);
    site->setAccessibleName(QStringLiteral("Объект"));
    feeder->setAccessibleName(QStringLiteral("Присоединение"));

    if (dialog.exec() != QDialog::Accepted)
        return false;
    place = {site->text().trimmed(), feeder->text().trimmed()};
    return true;
}
