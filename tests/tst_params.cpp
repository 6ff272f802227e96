// Parameter files and the commissioning sheet: a file that is wrong in any
// way must be refused whole, before any value could reach a controller.
#include "param_file.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

ParTable table()
{
    ParTable t;
    par_table_init(t);
    return t;
}

// Each raw differs from the others, so a text edit hits exactly one parameter.
ParamFile sample()
{
    ParamFile f;
    f.saved = QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53));
    f.address = 1;
    f.protocol = Version{2, 5};
    f.software = Version{1, 12};
    f.raws = {101, 102, 103, 1500, 125, 3000, 500, 20, 1};
    return f;
}

// The sample file with `from` replaced by `to`: within the line of parameter
// `id`, or anywhere when id is empty.
QByteArray edited(const QByteArray &id, const QByteArray &from, const QByteArray &to)
{
    QByteArray json = param_file_json(table(), sample());
    if (id.isEmpty())
        return json.replace(from, to);
    const qsizetype start = json.lastIndexOf('\n', json.indexOf("\"id\": \"" + id + "\"")) + 1;
    const qsizetype end = json.indexOf('\n', start) + 1;
    QByteArray line = json.mid(start, end - start);
    return json.replace(start, end - start, line.replace(from, to));
}

QByteArray line_of(const QByteArray &id)
{
    const QByteArray json = param_file_json(table(), sample());
    const qsizetype start = json.lastIndexOf('\n', json.indexOf("\"id\": \"" + id + "\"")) + 1;
    return json.mid(start, json.indexOf('\n', start) + 1 - start);
}

} // namespace

Q_DECLARE_METATYPE(ParamFile)

class TestParams : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void version_text_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<QString>("text");
        QTest::newRow("one digit minor") << 2 << 5 << QString("2.05");
        QTest::newRow("two digits") << 2 << 12 << QString("2.12");
        QTest::newRow("three digits") << 2 << 150 << QString("2.150");
        QTest::newRow("zero") << 0 << 0 << QString("0.00");
    }
    void version_text()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(QString, text);
        QCOMPARE(::version_text({major, minor}), text);
        const auto back = version_from_text(text);
        QVERIFY(back && back->major == major && back->minor == minor);
    }

    void round_trip_data()
    {
        QTest::addColumn<ParamFile>("file");
        QTest::newRow("all known") << sample();
        ParamFile bare = sample();
        bare.saved = QDateTime();
        bare.address = -1;
        bare.protocol.reset();
        bare.software.reset();
        QTest::newRow("nothing known") << bare;
        ParamFile top = sample();
        top.address = 127;
        top.protocol = Version{255, 150};
        top.raws = {255, 0, 255, 65535, 65535, 0, 65535, 65535, 255};
        QTest::newRow("range limits") << top;
    }
    void round_trip()
    {
        QFETCH(ParamFile, file);
        const ParTable t = table();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rzt.json"));
        QCOMPARE(save_param_file(path, t, file), QString());
        const ParamFileRead got = load_param_file(path, t);
        QVERIFY2(got.file, qPrintable(got.error));
        QCOMPARE(got.file->raws, file.raws);
        QCOMPARE(got.file->saved, file.saved);
        QCOMPARE(got.file->address, file.address);
        QCOMPARE(bool(got.file->protocol), bool(file.protocol));
        if (file.protocol)
            QCOMPARE(::version_text(*got.file->protocol), ::version_text(*file.protocol));
        QCOMPARE(bool(got.file->software), bool(file.software));

        // What a person reads beside each raw is raw × scale, to three decimals.
        QFile in(path);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QJsonArray list = QJsonDocument::fromJson(in.readAll())["parameters"].toArray();
        for (int i = 0; i < par_count; ++i) {
            const double want = file.raws[size_t(i)] * par_scale(t, i);
            QVERIFY(qAbs(list[i]["value"].toDouble() - want) < 1e-9);
            QCOMPARE(list[i]["caption"].toString(), par_caption(i));
        }
    }

    void written_values_read_as_decimals()
    {
        const QByteArray json = param_file_json(table(), sample());
        QVERIFY2(json.contains("{\"id\": \"timer_s\", \"caption\": \"Таймер, с\", \"raw\": 125, "
                               "\"value\": 12.5}"),
                 json.constData());
        QVERIFY(json.contains("\"raw\": 1500, \"value\": 1.5}"));
        QVERIFY(json.contains("\"protocol\": \"2.05\""));
        QVERIFY(json.contains("\"saved\": \"2025-03-14T09:26:53"));
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("named"); // what the message must mention
        const auto add = [](const char *name, const QByteArray &json, const QByteArray &named) {
            QTest::newRow(name) << json << named;
        };
        const QByteArray ts = "timer_s";
        add("not JSON", edited({}, "{\n", ""), "JSON");
        add("not an object", "[1, 2]", "JSON");
        add("unknown format", edited({}, "\"format\": 1", "\"format\": 2"), "2");
        add("format as text", edited({}, "\"format\": 1", "\"format\": \"1\""), "формат");
        // Shown as it stands, markers of substitution and all.
        add("format %2%1", edited({}, "\"format\": 1", "\"format\": \"%2%1\""), "%2%1");
        add("no format", edited({}, "\"format\": 1,", ""), "format");
        add("other device", edited({}, "RZT-604Д", "RZT-605"), "RZT-605");
        add("bad time", edited({}, "2025-03-14T", "вчера "), "saved");
        add("address 128", edited({}, "\"address\": 1", "\"address\": 128"), "address");
        add("bad version", edited({}, "\"2.05\"", "\"2.5.1\""), "protocol");
        add("missing parameter", edited({}, line_of(ts), ""), ts);
        const QByteArray relay = line_of("relay_mode");
        add("extra parameter",
            edited({}, relay,
                   QByteArray(relay).replace("\n", ",\n") +
                       QByteArray(relay).replace("relay_mode", "relay_delay")),
            "relay_delay");
        add("twice", edited({}, line_of(ts), line_of(ts) + line_of(ts)), ts);
        add("out of order",
            edited({}, line_of("trim_ib") + line_of("trim_ic"),
                   line_of("trim_ic") + line_of("trim_ib")),
            "trim_ib");
        add("wrong identifier", edited(ts, "\"timer_s\"", "\"timer\""), ts);
        add("no identifier", edited(ts, "\"id\": \"timer_s\",", ""), "месте 5");
        add("not an object in list", edited({}, line_of(ts), "        125,\n"), "месте 5");
        add("256 in one byte", edited("trim_ia", "101", "256"), "trim_ia");
        add("65536 in two bytes", edited("imax_timed", "1500", "65536"), "imax_timed");
        add("negative", edited("relay_mode", "\"raw\": 1", "\"raw\": -1"), "relay_mode");
        add("fraction", edited(ts, "125", "12.5"), ts);
        add("text", edited(ts, "125", "\"125\""), ts);
        add("boolean", edited(ts, "125", "true"), ts);
        add("null", edited(ts, "125", "null"), ts);
        add("no raw", edited(ts, "\"raw\": 125,", ""), ts);
    }
    void refused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, named);
        const ParamFileRead got = read_param_file(table(), json);
        QVERIFY2(!got.file, json.constData());
        QVERIFY2(got.error.toUtf8().contains(named), qPrintable(got.error + " lacks " + named));
    }

    void accepted_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int32_t>("timer_raw");
        QTest::newRow("exponent") << edited("timer_s", "125", "1e3") << 1000;
        QTest::newRow("point zero") << edited("timer_s", "125", "125.0") << 125;
        QTest::newRow("value disagrees") << edited("timer_s", "12.5", "99") << 125;
        QTest::newRow("caption edited") << edited("timer_s", "Таймер, с", "T") << 125;
        QTest::newRow("note added") << edited({}, "{\n", "{\n    \"note\": \"ТП-3\",\n") << 125;
    }
    void accepted()
    {
        QFETCH(QByteArray, json);
        QFETCH(int32_t, timer_raw);
        const ParamFileRead got = read_param_file(table(), json);
        QVERIFY2(got.file, qPrintable(got.error));
        QCOMPARE(got.file->raws[4], timer_raw);
        QCOMPARE(got.file->raws[8], 1);
    }

    void compare_lists_only_differences()
    {
        const ParRaws device = sample().raws;
        ParRaws file = device;
        file[0] = 100;
        file[8] = 0;
        const QList<ParDifference> d = compare_params(device, file);
        QCOMPARE(d.size(), 2);
        QCOMPARE(d[0].index, 0);
        QCOMPARE(d[0].device_raw, 101);
        QCOMPARE(d[0].file_raw, 100);
        QCOMPARE(d[1].index, 8);
        QCOMPARE(d[1].device_raw, 1);
        QCOMPARE(d[1].file_raw, 0);
        QVERIFY(compare_params(device, device).isEmpty());
    }

    void failed_save_keeps_the_old_file()
    {
#ifdef Q_OS_UNIX
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rzt.json"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        // A file size limit makes the write itself fail, even for root, who
        // could write into a read-only folder.
        rlimit saved_limit{};
        getrlimit(RLIMIT_FSIZE, &saved_limit);
        rlimit small = saved_limit;
        small.rlim_cur = 100;
        const auto saved_handler = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const QString error = save_param_file(path, table(), sample());
        setrlimit(RLIMIT_FSIZE, &saved_limit);
        signal(SIGXFSZ, saved_handler);
        QVERIFY(!error.isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"rzt.json"});
#else
        QSKIP("needs a file size limit (setrlimit)");
#endif
    }

    void report_is_a_pdf()
    {
        Report r;
        r.settings = sample();
        r.site = QStringLiteral("ПС <Южная>");
        r.port = QStringLiteral("COM5");
        r.port_path = QStringLiteral("/dev/ttyUSB4");
        Measurement m;
        m.carried = 5; // 200..204: phase A came, the rest did not
        m.registers[4] = 1234;
        r.live = m;
        const QString html = report_html(r);
        // Captions, not identifiers; a code as its meaning.
        QVERIFY(html.contains(QStringLiteral("<td>Таймер, с</td><td align=\"right\">12.5 с</td>"
                                             "<td align=\"right\">125</td>")));
        QVERIFY(!html.contains(QStringLiteral("timer_s")));
        QVERIFY(html.contains(QStringLiteral(">1 — Упр</td>")));
        QVERIFY(html.contains(QStringLiteral("COM5 (/dev/ttyUSB4)")));
        // The site as typed; the feeder left empty is a line to fill in by hand.
        QVERIFY(html.contains(QStringLiteral("<td>Объект:</td><td>ПС &lt;Южная&gt;</td>")));
        QVERIFY(html.contains(QStringLiteral("<td>Присоединение:</td><td>____")));
        QVERIFY(html.contains(QStringLiteral(">1.234</td><td align=\"right\">—</td>")));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("отчёт.pdf"));
        QCOMPARE(write_report(path, r), QString());
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.size() > 1000);
        QVERIFY(pdf.read(5) == "%PDF-");
    }
};

QTEST_MAIN(TestParams)
#include "tst_params.moc"
