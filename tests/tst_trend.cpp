// The trend window's data path: what reaches the plot and the CSV file, how
// a recording ends when the disk does, and that a long run stays small.
#include "csv_recorder.h"
#include "fixed_zone.h"
#include "measurement_csv.h"
#include "trend_buffer.h"
#include "trend_chart.h"
#include "trend_window.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLineSeries>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#ifdef Q_OS_UNIX
#include <sys/mount.h>
#include <sys/stat.h>
#endif

namespace {

// A complete reply as the decoder hands it on: raw words of registers
// 204..209, values in engineering units.
Measurement reading(qint64 t_ms, uint16_t ia, uint16_t ib, uint16_t ic, uint16_t fr,
                    uint16_t ain1 = 0, uint16_t ain2 = 0)
{
    Measurement m;
    m.carried = Measurement::register_count;
    m.time_ms = t_ms;
    m.registers = {0, 0x0205, 0x0103, 0, ia, ib, ic, fr, ain1, ain2};
    return m;
}

qint64 local_ms(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)).toMSecsSinceEpoch();
}

QByteArray file_text(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(cannot read)");
}

QList<QByteArray> csv_lines(const QString &path)
{
    QList<QByteArray> lines = file_text(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestTrend : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void csv_row_data();
    void csv_row();
    void spreadsheet_layout_follows_the_locale_data();
    void spreadsheet_layout_follows_the_locale();
    void plot_and_file_get_the_same_scaled_values();
    void only_good_replies_are_logged_once_each();
    void rows_reach_the_disk_within_a_second_and_at_stop();
    void a_full_disk_stops_the_recording_keeping_whole_rows();
    void a_vanished_folder_stops_the_recording();
    void a_symlink_never_chooses_the_file_written();
    void a_long_run_is_held_in_bounded_memory();
    void a_hidden_window_does_not_draw();
};

void TestTrend::csv_row_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<Measurement>("m");
    QTest::addColumn<QByteArray>("row");
    const qint64 t = local_ms(2026, 12, 7, 10, 15, 30, 123);
    QTest::newRow("typical")
        << "C" << reading(t, 1234, 0, 65535, 5000, 12, 7)
        << QByteArray("2026-12-07T10:15:30.123+03:00,1.234,0.000,65.535,50.00,12.00,7.00");
    // Regional settings with a comma and digit grouping change nothing.
    QTest::newRow("ru_RU, largest words")
        << "ru_RU" << reading(local_ms(2026, 1, 2, 3, 4, 5, 6), 65535, 1, 10, 65535, 65535, 1000)
        << QByteArray("2026-01-02T03:04:05.006+03:00,65.535,0.001,0.010,655.35,65535.00,1000.00");
    QTest::newRow("de_DE, midnight")
        << "de_DE" << reading(local_ms(2026, 6, 30, 0, 0, 0, 0), 500, 999, 1000, 4999)
        << QByteArray("2026-06-30T00:00:00.000+03:00,0.500,0.999,1.000,49.99,0.00,0.00");
}

void TestTrend::csv_row()
{
    QFETCH(QString, locale);
    QFETCH(Measurement, m);
    QFETCH(QByteArray, row);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(csv_header(), QByteArray("time,ia,ib,ic,frequency,ain1,ain2\n"));
    QCOMPARE(::csv_row(m), row + '\n');
}

// In an English spreadsheet "1,234" is a thousand and more: the decimal sign
// is the locale's, and the field separator then one it does not confuse.
void TestTrend::spreadsheet_layout_follows_the_locale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("ru_RU") << "ru_RU"
                           << "CSV для таблиц (точка с запятой, десятичная запятая) (*.csv)"
                           << QByteArray(
                                  "\xEF\xBB\xBFtime;ia, А;ib, А;ic, А;frequency, Гц;ain1, "
                                  "В;ain2, В\n"
                                  "2026-12-07 10:15:30,123;1,234;0,000;65,535;50,00;12,00;7,00\n");
    QTest::newRow("en_US") << "en_US"
                           << "CSV для таблиц (запятая, десятичная точка) (*.csv)"
                           << QByteArray(
                                  "\xEF\xBB\xBFtime,\"ia, А\",\"ib, А\",\"ic, А\",\"frequency, "
                                  "Гц\",\"ain1, В\",\"ain2, В\"\n"
                                  "2026-12-07 10:15:30.123,1.234,0.000,65.535,50.00,12.00,7.00\n");
}

void TestTrend::spreadsheet_layout_follows_the_locale()
{
    QFETCH(QString, locale);
    QFETCH(QString, filter);
    QFETCH(QByteArray, file);
    QLocale::setDefault(QLocale(locale));
    const CsvLayout layout = spreadsheet_csv_layout();
    QCOMPARE(spreadsheet_csv_filter(layout), filter);
    const Measurement m =
        reading(local_ms(2026, 12, 7, 10, 15, 30, 123), 1234, 0, 65535, 5000, 12, 7);
    QCOMPARE(csv_header(layout) + ::csv_row(m, layout), file);
}

void TestTrend::plot_and_file_get_the_same_scaled_values()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    const qint64 t0 = local_ms(2026, 12, 7, 10, 0, 0, 0);
    const Measurement replies[] = {reading(t0, 1234, 2345, 3456, 5012, 12, 7),
                                   reading(t0 + 150, 65535, 0, 1, 4990, 0, 65535)};
    const double want[2][trend_series] = {{1.234, 2.345, 3.456, 50.12, 12, 7},
                                          {65.535, 0, 0.001, 49.90, 0, 65535}};
    TrendWindow w;
    QVERIFY2(w.start_recording(path), qPrintable(w.recorder().error()));
    for (const Measurement &m : replies)
        w.add_measurement(m);
    w.set_threshold(3, 9000);  // "Макс I (тмр), А" 9 A
    w.set_threshold(5, 13500); // "Макс I (мгн), А" 13.5 A
    w.set_threshold(4, 600);   // the timer, not a current
    w.refresh();
    w.stop_recording();

    for (int s = 0; s < trend_series; ++s) {
        const QList<QPointF> &points = w.chart()->trace(s).points;
        QCOMPARE(points.size(), 2);
        for (int k = 0; k < 2; ++k) {
            const QPointF p = points[k];
            QCOMPARE(qint64(p.x()), replies[k].time_ms);
            QVERIFY2(qAbs(p.y() - want[k][s]) <= 1e-6 * qMax(1.0, want[k][s]),
                     qPrintable(QStringLiteral("series %1 point %2: %3 != %4")
                                    .arg(s)
                                    .arg(k)
                                    .arg(p.y())
                                    .arg(want[k][s])));
        }
    }
    QCOMPARE(w.chart()->limit(tl_timed)->at(0).y(), 9.0);
    QCOMPARE(w.chart()->limit(tl_instant)->at(0).y(), 13.5);
    QVERIFY(w.chart()->limit(tl_timed)->isVisible());
    QVERIFY(w.chart()->axis_of(0)->max() >= 65.535);

    const QList<QByteArray> lines = csv_lines(path);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1] + '\n', ::csv_row(replies[0]));
    QCOMPARE(lines[2] + '\n', ::csv_row(replies[1]));
}

// A faulty line gives short replies, and a repeated reply may be handed on
// twice: neither may leave a row of zeros or a second copy.
void TestTrend::only_good_replies_are_logged_once_each()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("faulty.csv"));
    const qint64 t0 = local_ms(2026, 12, 7, 11, 0, 0, 0);
    const Measurement a = reading(t0, 1000, 1001, 1002, 5000);
    Measurement cut = reading(t0 + 150, 0, 0, 0, 0);
    cut.carried = 4;
    const Measurement b = reading(t0 + 300, 2000, 2001, 2002, 5001);
    const Measurement c = reading(t0 + 450, 3000, 3001, 3002, 5002);

    TrendWindow w;
    QVERIFY(w.start_recording(path));
    for (const Measurement &m : {a, cut, b, b, c})
        w.add_measurement(m);
    w.stop_recording();

    const QList<QByteArray> want = {csv_header().trimmed(), ::csv_row(a).trimmed(),
                                    ::csv_row(b).trimmed(), ::csv_row(c).trimmed()};
    QCOMPARE(csv_lines(path), want);
    QCOMPARE(w.buffer().samples(), qint64(3));
}

void TestTrend::rows_reach_the_disk_within_a_second_and_at_stop()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flush.csv"));
    const qint64 t0 = local_ms(2026, 12, 7, 12, 0, 0, 0);
    CsvRecorder r;
    QVERIFY(r.start(path));
    for (int i = 0; i <= 7; ++i) // 0 .. 1050 ms
        r.append(reading(t0 + i * 150, uint16_t(i), 0, 0, 5000));
    QCOMPARE(csv_lines(path).size(), 1 + 8);
    r.append(reading(t0 + 1200, 8, 0, 0, 5000));
    r.stop();
    QVERIFY(!r.recording());
    const QList<QByteArray> lines = csv_lines(path);
    QCOMPARE(lines.size(), 1 + 9);
    QCOMPARE(lines.last() + '\n', ::csv_row(reading(t0 + 1200, 8, 0, 0, 5000)));
    QCOMPARE(r.rows(), qint64(9));
}

void TestTrend::a_full_disk_stops_the_recording_keeping_whole_rows()
{
    // A device that is always full refuses the recording at once.
    CsvRecorder refused;
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        QVERIFY(!refused.start(QStringLiteral("/dev/full")));
        QVERIFY(!refused.recording());
        QVERIFY(!refused.error().isEmpty());
    }

    QTemporaryDir dir;
#ifndef Q_OS_UNIX
    QSKIP("needs a small tmpfs (mount)");
#else
    if (mount("tmpfs", qPrintable(dir.path()), "tmpfs", 0, "size=16k") != 0)
        QSKIP("cannot mount a small tmpfs here (needs root and permission to mount)");
    const auto unmount = qScopeGuard([&] { umount(qPrintable(dir.path())); });
    const QString path = dir.filePath(QStringLiteral("full%1%2%3.csv"));
    const qint64 t0 = local_ms(2026, 12, 7, 13, 0, 0, 0);
    CsvRecorder r;
    QSignalSpy failed(&r, &CsvRecorder::failed);
    QVERIFY(r.start(path));
    for (int i = 0; i < 5000 && r.recording(); ++i)
        r.append(reading(t0 + i * 150, uint16_t(i), 1, 2, 5000));
    QVERIFY(!r.recording());
    QCOMPARE(failed.count(), 1);
    // The path as it is, and the system's reason in words.
    QVERIFY2(
        r.error().startsWith(QStringLiteral("Запись в CSV остановлена: не удалось записать в ") +
                             path + QStringLiteral(": нет места на диске.")),
        qPrintable(r.error()));

    const QByteArray text = file_text(path);
    QVERIFY(text.endsWith('\n'));
    const QList<QByteArray> lines = csv_lines(path);
    QVERIFY(r.rows() > 0);
    QCOMPARE(lines.size(), 1 + r.rows());
    for (int i = 0; i < r.rows(); ++i)
        QCOMPARE(lines[i + 1] + '\n', ::csv_row(reading(t0 + i * 150, uint16_t(i), 1, 2, 5000)));
#endif
}

void TestTrend::a_vanished_folder_stops_the_recording()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(folder));
    CsvRecorder r;
    QSignalSpy failed(&r, &CsvRecorder::failed);
    QVERIFY(r.start(folder + QStringLiteral("/gone.csv")));
    const qint64 t0 = local_ms(2026, 12, 7, 14, 0, 0, 0);
    r.append(reading(t0, 1, 2, 3, 5000));
#ifdef Q_OS_WIN
    QSKIP("Windows refuses to remove a folder while a file in it is open");
#endif
    QVERIFY(QDir(folder).removeRecursively());
    for (int i = 1; i < 20; ++i)
        r.append(reading(t0 + i * 150, 1, 2, 3, 5000));
    QVERIFY(!r.recording());
    QCOMPARE(failed.count(), 1);
    QVERIFY2(failed[0][0].toString().contains(QStringLiteral("больше не существует")),
             qPrintable(failed[0][0].toString()));
}

// A symbolic link planted in /tmp by another user must not make a recording create
// or fill a file of their choosing, and a file is replaced only by its own
// name: through a symbolic link it could be anyone's.
void TestTrend::a_symlink_never_chooses_the_file_written()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links and sticky folders are Unix's");
#else
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
    const QString target = dir.filePath(QStringLiteral("victim.csv"));
    const QString planted = shared + QStringLiteral("/trend.csv");
    QVERIFY(QFile::link(target, planted));
    for (const CsvExisting existing :
         {CsvExisting::refuse, CsvExisting::append, CsvExisting::overwrite}) {
        CsvRecorder r;
        QVERIFY(!r.start(planted, existing));
        QVERIFY2(r.error().contains(QStringLiteral("символическая ссылка в общей папке")),
                 qPrintable(r.error()));
        QVERIFY(!QFileInfo::exists(target));
    }

    const QByteArray kept = "somebody else's file\n";
    QFile f(target);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(kept) == kept.size());
    f.close();
    const QString symlink = dir.filePath(QStringLiteral("link.csv"));
    QVERIFY(QFile::link(target, symlink));
    CsvRecorder r;
    QVERIFY(!r.start(symlink, CsvExisting::overwrite));
    QVERIFY2(r.error().contains(target), qPrintable(r.error()));
    QCOMPARE(file_text(target), kept);
#endif
}

// Three hours and more of replies in a store meant for fewer: the count held
// stays within its capacities, the plot of everything still starts at the
// first reply, and a single spike and a single dip survive the merging at
// the times they occurred.
void TestTrend::a_long_run_is_held_in_bounded_memory()
{
    constexpr int recent = 1000;
    constexpr int archived = 256;
    constexpr qint64 n = 1'000'000;
    constexpr qint64 t0 = 1'800'000'000'000;
    constexpr qint64 spike = 123'457;
    constexpr qint64 dip = 654'321;
    TrendBuffer b(recent, archived);
    for (qint64 i = 0; i < n; ++i) {
        TrendSample x{t0 + i * 150, {1, 1, 1, 50, 0, 0}};
        if (i == spike)
            x.v[2] = 99;
        if (i == dip)
            x.v[3] = 45;
        b.add(x);
        QVERIFY(b.held() <= recent + archived + 1);
    }
    QCOMPARE(b.samples(), n);

    const QList<QPointF> ic = b.trace(2, b.first_ms(), b.last_ms(), 2000, 0).points;
    QVERIFY(ic.size() <= 2000);
    QCOMPARE(qint64(ic.first().x()), t0);
    const auto top =
        std::max_element(ic.begin(), ic.end(), [](QPointF p, QPointF q) { return p.y() < q.y(); });
    QCOMPARE(top->y(), 99.0);
    QCOMPARE(qint64(top->x()), t0 + spike * 150);
    const QList<QPointF> fr = b.trace(3, b.first_ms(), b.last_ms(), 2000, 0).points;
    const auto low =
        std::min_element(fr.begin(), fr.end(), [](QPointF p, QPointF q) { return p.y() < q.y(); });
    QCOMPARE(low->y(), 45.0);
    QCOMPARE(qint64(low->x()), t0 + dip * 150);

    // The newest minutes come exactly as they were fed.
    QCOMPARE(b.trace(0, b.last_ms() - 100 * 150, b.last_ms(), 2000, 0).points.size(), 101);
}

void TestTrend::a_hidden_window_does_not_draw()
{
    TrendWindow w;
    const qint64 t0 = local_ms(2026, 12, 7, 15, 0, 0, 0);
    for (int i = 0; i < 100; ++i)
        w.add_measurement(reading(t0 + i * 150, uint16_t(i), 0, 0, 5000));
    QCOMPARE(w.chart()->trace(0).points.size(), 0);
    w.show();
    QCOMPARE(w.chart()->trace(0).points.size(), 100);
}

int main(int argc, char *argv[])
{
    use_fixed_zone();
    QApplication app(argc, argv);
    TestTrend t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_trend.moc"
