// What the trend window writes: the CSV recording and a picture of the plot.
#include "trend_window.h"

#include "message_box.h"
#include "safe_write.h"
#include "trend_chart.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTime>

// "РЗТ604-адр1-2026-12-07-101530.csv": the controller, the day and the
// time, as a recording or a picture is rarely the only one of the day.
QString TrendWindow::default_name(const char *suffix) const
{
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    const QString address =
        m_last.address >= 0 ? QStringLiteral("-адр%1").arg(m_last.address) : QString();
    return QStringLiteral("РЗТ604") + address + QLatin1Char('-') + when + QLatin1Char('.') +
           QLatin1String(suffix);
}

bool TrendWindow::start_recording(const QString &path, const CsvLayout &layout)
{
    m_recorder.set_layout(layout);
    const bool ok = m_recorder.start(path);
    update_record_status();
    return ok;
}

void TrendWindow::stop_recording()
{
    m_recorder.stop();
    update_record_status();
}

void TrendWindow::toggle_recording()
{
    if (m_recorder.recording()) {
        stop_recording();
        return;
    }
    const CsvLayout sheet = spreadsheet_csv_layout();
    FileChoice choice{true,
                      QStringLiteral("Запись в CSV"),
                      plain_csv_filter() + QStringLiteral(";;") + spreadsheet_csv_filter(sheet),
                      default_name("csv"),
                      QStringLiteral("csv"),
                      QString()};
    const QString path = choose_file(this, choice);
    if (path.isEmpty())
        return;
    const bool spreadsheet = choice.chosen_filter == spreadsheet_csv_filter(sheet);
    if (!start_recording(path, spreadsheet ? sheet : CsvLayout{}))
        message_box(this, m_recorder.error(), windowTitle(), QMessageBox::Ok,
                    QMessageBox::Critical);
}

void TrendWindow::ask_save_image()
{
    FileChoice choice{true,
                      QStringLiteral("Сохранить изображение"),
                      QStringLiteral("Изображение PNG (*.png)"),
                      default_name("png"),
                      QStringLiteral("image"),
                      QString()};
    const QString path = choose_file(this, choice);
    if (!path.isEmpty())
        save_image(path);
}

bool TrendWindow::save_image(const QString &path)
{
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    QString why;
    if (!m_chart->grab().save(&out, "PNG"))
        why = QStringLiteral("не удалось составить изображение");
    else if (!replace_file(path, png, &why) && why.isEmpty())
        why = QStringLiteral("запись не удалась");
    if (why.isEmpty())
        return true;
    message_box(this,
                QStringLiteral("Не удалось сохранить изображение в файл ") + path +
                    QStringLiteral(": ") + why + QLatin1Char('.'),
                windowTitle(), QMessageBox::Ok, QMessageBox::Critical);
    return false;
}

void TrendWindow::update_record_status()
{
    const bool on = m_recorder.recording();
    m_cmd_record->setText(on ? QStringLiteral("Остановить &запись")
                             : QStringLiteral("&Запись в CSV…"));
    m_lbl_record->setToolTip(m_recorder.path());
    if (!on && !m_recorder.error().isEmpty())
        return; // the failure's words stay
    m_lbl_record->setStyleSheet(QString());
    QString head;
    QString tail = QStringLiteral(", строк: %1").arg(m_recorder.rows());
    if (on) {
        const qint64 ms = m_recorder.elapsed_ms();
        const qint64 days = ms / 86'400'000;
        head = QStringLiteral("Запись: ");
        tail += QStringLiteral(", ") + (days > 0 ? QStringLiteral("%1 д ").arg(days) : QString()) +
                QTime(0, 0).addMSecs(int(ms % 86'400'000)).toString(QStringLiteral("HH:mm:ss"));
    } else if (!m_recorder.path().isEmpty()) {
        head = QStringLiteral("Записано: ");
    } else {
        m_lbl_record->clear();
        return;
    }
    // The file's name gives way to the counts: the label's width is fixed.
    const QFontMetrics metrics = m_lbl_record->fontMetrics();
    const int room = m_lbl_record->width() - metrics.horizontalAdvance(head + tail);
    m_lbl_record->setText(head +
                          metrics.elidedText(QFileInfo(m_recorder.path()).fileName(),
                                             Qt::ElideMiddle, std::max(room, 0)) +
                          tail);
}

// Shown without blocking: this runs inside the exchange's tick.
void TrendWindow::recording_failed(const QString &message)
{
    update_record_status();
    m_lbl_record->setStyleSheet(QStringLiteral("color: #b00000"));
    m_lbl_record->setText(QStringLiteral("Запись остановлена, строк: %1").arg(m_recorder.rows()));
    auto *box =
        new QMessageBox(QMessageBox::Critical, windowTitle(), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
