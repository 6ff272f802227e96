// The trend window as the operator reads it: gaps, axes and limit lines, what
// a redraw costs, zoom, its width while recording, and the files it writes.
#include "event_wait.h"
#include "fixed_zone.h"
#include "message_box.h"
#include "trend_chart.h"
#include "trend_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>

namespace {

constexpr qint64 tick_ms = 150;

// Registers 204..209 as the controller sends them: mA, 0.01 Hz, V.
Measurement reading(qint64 t_ms, uint16_t ia, uint16_t fr = 5000)
{
    Measurement m;
    m.carried = Measurement::register_count;
    m.time_ms = t_ms;
    m.address = 1;
    m.registers = {0, 0x0205, 0x0103, 0, ia, uint16_t(ia + 10), uint16_t(ia + 20), fr, 12, 0};
    return m;
}

qint64 local_ms(int h, int mi, int s, int ms)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, mi, s, ms)).toMSecsSinceEpoch();
}

// Samples every tick from t0 with phase A around 1.2 A.
void feed(TrendWindow &w, qint64 t0, int count)
{
    for (int i = 0; i < count; ++i)
        w.add_measurement(reading(t0 + i * tick_ms, uint16_t(1190 + i % 21)));
}

QByteArray file_bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(cannot read)");
}

} // namespace

class TestTrendChart : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void a_gap_in_the_data_is_a_gap_in_the_line();
    void the_current_axis_fits_phases_far_below_the_limits();
    void a_redraw_draws_no_more_points_than_the_plot_has_pixels();
    void a_zoom_holds_its_stretch_until_reset();
    void the_window_keeps_its_width_while_recording();
    void files_are_written_as_chosen();
};

// An unplugged adapter: no line across the pause, in the exact samples and
// in the archive where buckets of samples merge across it, and no value
// read out inside it.
void TestTrendChart::a_gap_in_the_data_is_a_gap_in_the_line()
{
    TrendWindow w;
    w.show();
    const qint64 t0 = local_ms(10, 0, 0, 0);
    const qint64 back = t0 + 40 * tick_ms + 10'000;
    feed(w, t0, 40);
    feed(w, back, 40);
    w.refresh();
    const TrendTrace &ia = w.chart()->trace(0);
    QCOMPARE(ia.points.size(), 80);
    QCOMPARE(ia.breaks, QList<qsizetype>{40});
    QVERIFY2(w.chart()->read_out(back - 5000).contains(QStringLiteral("Фаза A —")),
             qPrintable(w.chart()->read_out(back - 5000)));
    QVERIFY2(w.chart()->read_out(back).contains(QStringLiteral("Фаза A 1,190 А")),
             qPrintable(w.chart()->read_out(back)));

    TrendBuffer b(100, 16);
    const qint64 pause_from = t0 + 499 * tick_ms;
    const qint64 pause_to = pause_from + 60'000;
    for (int i = 0; i < 1000; ++i)
        b.add(TrendSample{i < 500 ? t0 + i * tick_ms : pause_to + (i - 500) * tick_ms,
                          {float(i % 7), 0, 0, 50, 0, 0}});
    const TrendTrace archived = b.trace(0, b.first_ms(), b.last_ms(), 2000, TrendChart::gap_ms);
    QCOMPARE(archived.breaks.size(), 1);
    const qsizetype at = archived.breaks.front();
    QVERIFY(qint64(archived.points[at - 1].x()) <= pause_from);
    QVERIFY(qint64(archived.points[at].x()) >= pause_to);
}

// Phases of 1.2 A under limits of 5 and 20 A: the axis is the phases', with
// round labels in the user's notation, and a limit comes in when asked for.
void TestTrendChart::the_current_axis_fits_phases_far_below_the_limits()
{
    TrendWindow w;
    w.show();
    feed(w, local_ms(11, 0, 0, 0), 400);
    w.set_threshold(trend_limit_parameter(tl_timed), 5000);
    w.set_threshold(trend_limit_parameter(tl_instant), 20000);
    w.refresh();
    const QValueAxis *amps = w.chart()->axis_of(0);
    QVERIFY2(amps->min() >= 1.0 && amps->max() <= 1.5,
             qPrintable(QStringLiteral("%1..%2").arg(amps->min()).arg(amps->max())));
    QCOMPARE(amps->labelFormat(), QStringLiteral("%.2f"));
    QCOMPARE(w.chart()->chart()->locale().decimalPoint(), QStringLiteral(","));
    QVERIFY(!w.chart()->limit(tl_timed)->isVisible());
    QVERIFY(!w.chart()->limit(tl_instant)->isVisible());
    QVERIFY(w.chart()->axis_of(3) != amps);

    w.findChild<QCheckBox *>(QStringLiteral("chk_limit_0"))->setChecked(true);
    QVERIFY(amps->max() >= 5.0 && amps->max() < 20.0);
    QVERIFY(w.chart()->limit(tl_timed)->isVisible());
    QCOMPARE(w.chart()->limit(tl_timed)->at(0).y(), 5.0);
    QVERIFY(!w.chart()->limit(tl_instant)->isVisible());
}

// Three hours of samples, past what the exact store holds: whatever the
// span, a series is at most a low and a high per pixel column, and a
// narrower window draws fewer.
void TestTrendChart::a_redraw_draws_no_more_points_than_the_plot_has_pixels()
{
    TrendWindow w;
    w.resize(900, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    feed(w, local_ms(8, 0, 0, 0), int(3 * 3600 * 1000 / tick_ms));
    auto *span = w.findChild<QComboBox *>(QStringLiteral("cmb_window"));
    const auto check_every_span = [&] {
        const int bound = 2 * w.chart()->width();
        QVERIFY(w.chart()->max_points() <= bound);
        for (int k = 0; k < span->count(); ++k) {
            span->setCurrentIndex(k);
            for (int s = 0; s < trend_series; ++s)
                QVERIFY2(w.chart()->trace(s).points.size() <= w.chart()->max_points(),
                         qPrintable(span->currentText()));
        }
    };
    check_every_span();
    const int wide = w.chart()->max_points();
    w.resize(500, 400);
    QTRY_VERIFY_WITH_TIMEOUT(w.chart()->max_points() < wide, event_wait_ms);
    check_every_span();
}

// A stretch picked with the wheel or a rubber band stays put while new
// samples come, until "Сбросить масштаб".
void TestTrendChart::a_zoom_holds_its_stretch_until_reset()
{
    TrendWindow w;
    w.resize(900, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const qint64 t0 = local_ms(12, 0, 0, 0);
    feed(w, t0, 4000); // 10 minutes
    w.refresh();
    TrendChart *chart = w.chart();
    const qint64 live = chart->shown_to() - chart->shown_from();

    const QPoint middle = chart->viewport()->rect().center();
    QWheelEvent notch(middle, chart->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart->viewport(), &notch);
    QVERIFY(w.zoomed());
    const qint64 from = chart->shown_from();
    const qint64 to = chart->shown_to();
    QVERIFY2(qAbs(double(to - from) / double(live) - 0.8) < 0.02,
             qPrintable(QString::number(to - from)));

    const QPoint a = middle - QPoint(100, 0);
    const QPoint b = middle + QPoint(100, 0);
    QMouseEvent press(QEvent::MouseButtonPress, a, chart->viewport()->mapToGlobal(a),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent drag(QEvent::MouseMove, b, chart->viewport()->mapToGlobal(b), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, b, chart->viewport()->mapToGlobal(b),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    for (QMouseEvent *e : {&press, &drag, &release})
        QApplication::sendEvent(chart->viewport(), e);
    QVERIFY(chart->shown_from() > from && chart->shown_to() < to);
    const qint64 band_from = chart->shown_from();

    feed(w, t0 + 4000 * tick_ms, 100);
    w.refresh();
    QCOMPARE(chart->shown_from(), band_from);

    w.findChild<QPushButton *>(QStringLiteral("cmd_unzoom"))->click();
    QVERIFY(!w.zoomed());
    QCOMPARE(chart->shown_to(), w.buffer().last_ms());
    QCOMPARE(chart->shown_to() - chart->shown_from(), qint64(600'000)); // "10 мин"
}

void TestTrendChart::the_window_keeps_its_width_while_recording()
{
    QTemporaryDir dir;
    TrendWindow w;
    w.show();
    const int width = w.width();
    const QString name =
        QStringLiteral("РЗТ604-адр247-2026-12-07-101530-фидер-12-ввод-2-после-ремонта.csv");
    QVERIFY(w.start_recording(dir.filePath(name)));
    feed(w, local_ms(13, 0, 0, 0), 12345);
    w.stop_recording();
    const auto *label = w.findChild<QLabel *>(QStringLiteral("lbl_record"));
    QVERIFY2(label->text().endsWith(QStringLiteral("строк: 12345")), qPrintable(label->text()));
    QVERIFY2(w.minimumSizeHint().width() <= width,
             qPrintable(QString::number(w.minimumSizeHint().width())));
}

// The spreadsheet choice gives the bytes of the operator's locale; a picture
// that cannot be written says so and one that can is a PNG.
void TestTrendChart::files_are_written_as_chosen()
{
    const FileDialogFn dialog = file_dialog_fn();
    const MessageBoxFn box = message_box_fn();
    const auto restore = qScopeGuard([&] {
        file_dialog_fn() = dialog;
        message_box_fn() = box;
    });
    QTemporaryDir dir;
    QString chosen;
    FileChoice asked;
    file_dialog_fn() = [&](QWidget *, FileChoice &c) {
        c.chosen_filter = c.filter.section(QStringLiteral(";;"), -1);
        asked = c;
        return chosen;
    };
    QStringList told;
    message_box_fn() = [&](QWidget *, const QString &text, const QString &, auto, auto) {
        told << text;
        return QMessageBox::Ok;
    };

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TrendWindow w;
    w.show();
    chosen = dir.filePath(QStringLiteral("excel"));
    auto *record = w.findChild<QPushButton *>(QStringLiteral("cmd_record"));
    record->click();
    QVERIFY(asked.filter.contains(QStringLiteral("CSV (запятая, точка) (*.csv)")));
    w.add_measurement(reading(local_ms(10, 15, 30, 123), 1234, 5001));
    record->click();
    QCOMPARE(file_bytes(chosen + QStringLiteral(".csv")),
             QByteArray("\xEF\xBB\xBFtime,\"ia, А\",\"ib, А\",\"ic, А\",\"frequency, Гц\","
                        "\"ain1, В\",\"ain2, В\"\n"
                        "2026-12-07 10:15:30.123,1.234,1.244,1.254,50.01,12.00,0.00\n"));

    auto *image = w.findChild<QPushButton *>(QStringLiteral("cmd_image"));
    chosen = dir.filePath(QStringLiteral("нет такой папки/тренд.png"));
    image->click();
    QCOMPARE(told.size(), 1);
    QVERIFY2(told[0].startsWith(QStringLiteral("Не удалось сохранить изображение")),
             qPrintable(told[0]));
    chosen = dir.filePath(QStringLiteral("тренд"));
    image->click();
    QCOMPARE(told.size(), 1);
    QVERIFY(file_bytes(chosen + QStringLiteral(".png")).startsWith("\x89PNG\r\n"));
}

int main(int argc, char *argv[])
{
    use_fixed_zone();
    QApplication app(argc, argv);
    TestTrendChart t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_trend_chart.moc"
