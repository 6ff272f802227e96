#include "convert.h"

#include <QLocale>
#include <QStringList>
#include <QTest>

#include <limits>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr int32_t i32max = std::numeric_limits<int32_t>::max();
constexpr int32_t i32min = std::numeric_limits<int32_t>::min();

} // namespace

class TestConvert : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void reply_bytes()
    {
        // Function-3 reply: address, function, byte count, then registers.
        RxBuf rx{};
        const int bytes[] = {1, 3, 6, 0x01, 0xF4, 0xFF, 0xFF, 0x00, 0x07};
        for (int k = 0; k < 9; ++k)
            rx[k] = bytes[k];
        QCOMPARE(rx_word(rx, reg_data_pos(0)), 500);
        QCOMPARE(rx_word(rx, reg_data_pos(1)), 65535);
        QCOMPARE(rx_word(rx, reg_data_pos(2)), 7);
        QCOMPARE(rx_value(rx, 3, 2), 500);
        QCOMPARE(rx_value(rx, 5, 1), 255);
        QCOMPARE(rx_value(rx, 3, 3), 0x01F4FF);
        QCOMPARE(rx_value(rx, 3, 0), 0);
        rx[259] = 0x12;
        rx[260] = 0x34;
        QCOMPARE(rx_word(rx, 259), 0x1234);
    }

    // clang-format off
    void number_from_text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        const struct { const char *text; double expected; } rows[] = {
            {"12,5", 12.5}, {"1,2,3", 1.2}, {"50%", 50}, {"50 %", 50}, {"50%,5", 50},
            {"%5", 0}, {"1 2", 12}, {"12.5 ", 12.5},
            {"+7", 7}, {"--5", 0}, {"+-5", 0}, {".5", 0.5}, {"-.5", -0.5}, {"5.", 5},
            {".", 0}, {"1.2.3", 1.2}, {"1.5e2", 150}, {"2E-3", 0.002}, {"1e 2", 100},
            {"1e", 1}, {"1e+", 1}, {"1e-x", 1}, {"1d5", 1}, {"abc", 0}, {"", 0},
            {"-", 0}, {"inf", 0}, {"-infinity", 0}, {"nan", 0}, {"0x10", 0},
            {"0x1p3", 0}, {"1e400", inf}, {"-1e400", -inf}, {"1e-400", 0},
            {"0.0000e99999999999999", 0}, {"0.1", 0.1}, {"0,3", 0.3},
        };
        for (const auto &r : rows)
            QTest::newRow(r.text) << QString::fromUtf8(r.text) << r.expected;
        QTest::newRow("tab, CR, LF") << QStringLiteral(" \t-1 000,5\r\n") << -1000.5;
        QTest::newRow("arabic-indic digit") << QStringLiteral("\u0663") << 0.0;
    }
    // clang-format on
    void number_from_text()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        // Exact: the reader must give the correctly rounded double.
        const double got = text_to_number(text);
        QVERIFY2(got == expected, qPrintable(QString::number(got, 'g', 17)));
    }

    // clang-format off
    void rounding_to_int_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("expected");
        const struct { const char *name; double x; int32_t expected; } rows[] = {
            {"0", 0, 0}, {"0.49", 0.49, 0}, {"-0.49", -0.49, 0}, {"0.5", 0.5, 1},
            {"-0.5", -0.5, -1}, {"2.4999", 2.4999, 2}, {"2.5", 2.5, 3}, {"-2.5", -2.5, -3},
            {"0.3/0.1", 0.3 / 0.1, 3}, {"1234.5", 1234.5, 1235},
            {"max", 2147483646.5, i32max}, {"max+1", 2147483647.5, i32max},
            {"min", -2147483647.5, i32min}, {"min-1", -2147483649.0, i32min},
            {"3e9", 3e9, i32max}, {"-3e9", -3e9, i32min}, {"inf", inf, i32max},
            {"-inf", -inf, i32min}, {"nan", std::numeric_limits<double>::quiet_NaN(), 0},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.x << int(r.expected);
    }
    // clang-format on
    void rounding_to_int()
    {
        QFETCH(double, x);
        QFETCH(int, expected);
        QCOMPARE(round_to_int(x), expected);
    }

    // clang-format off
    void raw_from_text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("expected");
        const struct { const char *text; int low, high; double scale; int expected; } rows[] = {
            {"255.4", 0, 255, 1, 255}, {"255.5", 0, 255, 1, 255}, {"-3", 0, 255, 1, 0},
            {"abc", 5, 255, 1, 5}, {"1.2345", 0, 65535, 0.001, 1235},
            {"12,5", 0, 65535, 0.1, 125}, {"0,3", 0, 65535, 0.1, 3},
            {"6553.5", 0, 65535, 0.1, 65535}, {"6553.6", 0, 65535, 0.1, 65535},
            {"50 %", 0, 100, 1, 50}, {"1e12", 0, 255, 1, 255}, {"-1e12", 3, 255, 1, 3},
            {"3e6", 0, 65535, 0.001, 65535}, {"1e400", -5, 5, 1, 5}, {"-1e400", -5, 5, 1, -5},
        };
        for (const auto &r : rows)
            QTest::newRow(r.text) << QString::fromUtf8(r.text) << r.low << r.high << r.scale
                                  << r.expected;
    }
    // clang-format on
    void raw_from_text()
    {
        QFETCH(QString, text);
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(double, scale);
        QFETCH(int, expected);
        QCOMPARE(text_to_raw(text, low, high, scale), expected);
    }

    // Only text with a digit in its leading number may ever become a value.
    // clang-format off
    void text_with_a_number_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("has");
        const struct { const char *text; bool has; } rows[] = {
            {"", false}, {"-", false}, {"x20", false}, {"абв", false}, {".", false},
            {"+", false}, {" , ", false}, {"%5", false}, {"e5", false},
            {"0", true}, {"-0", true}, {".5", true}, {"5.", true}, {"12,5 с", true},
            {" 1 2,5", true}, {"50 %", true}, {"1e", true}, {"-3", true},
        };
        for (const auto &r : rows)
            QTest::newRow(r.text) << QString::fromUtf8(r.text) << r.has;
    }
    // clang-format on
    void text_with_a_number()
    {
        QFETCH(QString, text);
        QFETCH(bool, has);
        QCOMPARE(text_has_number(text), has);
    }

    // clang-format off
    void scaled_text_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("factor");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("expected");
        const QLocale c = QLocale::c();
        const QLocale ru(QLocale::Russian, QLocale::Russia);
        const QLocale de(QLocale::German, QLocale::Germany);
        const struct { double v, f; int d; QLocale l; const char *expected; } rows[] = {
            {65535, 0.001, 3, c, "65.535 "}, {125, 0.1, 3, c, "12.5 "},
            {5000, 1.0 / 100, 2, c, "50 "}, {1500, 0.001, 3, c, "1.5 "},
            {0, 0.001, 3, c, "0 "}, {65535, 0.1, 3, c, "6553.5 "},
            {1234, 1.0 / 1000, 3, c, "1.234 "}, {2.5, 1, 0, c, "2 "},
            {3.5, 1, 0, c, "4 "}, {9.5, 1, 0, c, "10 "}, {0.0005, 1, 3, c, "0 "},
            {0.0015, 1, 3, c, "0.002 "}, {0.125, 1, 2, c, "0.12 "},
            {50, 0.001, 3, c, "0.05 "}, {999.9996, 1, 3, c, "1000 "},
            {-1500, 0.001, 3, c, "-1.5 "}, {-0.0004, 1, 3, c, "0 "},
            {-0.0, 1, 0, c, "0 "}, {1.0 / 3, 1, 20, c, "0.333333333333333 "},
            {1e20, 1, 2, c, "100000000000000000000 "},
            {123456789012345678.0, 1, 0, c, "123456789012346000 "},
            {1500, 0.001, 3, ru, "1,5 "},
            {65535, 0.1, 3, de, "6553,5 "}, {-50, 0.001, 3, de, "-0,05 "},
            // A separator the number reader does not know gives way to ".".
            {1500, 0.001, 3, QLocale(QLocale::Arabic, QLocale::Egypt), "1.5 "},
            {125, 0.1, 3, QLocale(QLocale::Persian, QLocale::Iran), "12.5 "},
        };
        for (const auto &r : rows)
            QTest::newRow(r.expected) << r.v << r.f << r.d << r.l << QString::fromUtf8(r.expected);
    }
    // clang-format on
    void scaled_text()
    {
        QFETCH(double, value);
        QFETCH(double, factor);
        QFETCH(int, digits);
        QFETCH(QLocale, locale);
        QFETCH(QString, expected);
        QCOMPARE(format_scaled(value, factor, digits, QString(), locale), expected);
    }

    void suffix_follows_the_space()
    {
        QCOMPARE(format_scaled(1500, 0.001, 3, QStringLiteral("А"),
                               QLocale(QLocale::Russian, QLocale::Russia)),
                 QStringLiteral("1,5 А"));
    }

    // What a box shows must read back to the same raw value, so that
    // writing all boxes without edits writes back exactly what was read.
    // clang-format off
    void round_trip_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("ru_RU") << QLocale(QLocale::Russian, QLocale::Russia);
        QTest::newRow("ar_EG") << QLocale(QLocale::Arabic, QLocale::Egypt);
    }
    // clang-format on
    void round_trip()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        for (const double scale : {1.0, 0.1, 0.001}) {
            for (int32_t raw = 0; raw <= 65535; ++raw) {
                const QString shown = format_scaled(raw, scale, 3, QString());
                const int32_t back = text_to_raw(shown, 0, 65535, scale);
                if (back != raw)
                    QFAIL(qPrintable(QStringLiteral("scale %1: %2 -> \"%3\" -> %4")
                                         .arg(scale)
                                         .arg(raw)
                                         .arg(shown)
                                         .arg(back)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
