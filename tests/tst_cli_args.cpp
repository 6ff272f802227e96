// rzt604-cli's command line as a hand used to mbpoll writes it: -a for
// --address, a range as 1:8 as well as 1-8, -V for --version.
#include "cli_args.h"
#include "version.h"

#include <QTest>

class TestCliArgs : public QObject {
    Q_OBJECT

private slots:
    void addresses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<int>>("addresses"); // none: refused
        QTest::newRow("-a, a range with a colon")
            << QStringList{"-a", "1:8"} << QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("a list with a colon range")
            << QStringList{"--address", "1,3:5"} << QList<int>{1, 3, 4, 5};
        QTest::newRow("a dash range beside a colon one")
            << QStringList{"-a", "7-8,2:3"} << QList<int>{7, 8, 2, 3};
        QTest::newRow("a colon range backwards") << QStringList{"-a", "5:3"} << QList<int>{};
        QTest::newRow("a colon range past 247") << QStringList{"-a", "240:248"} << QList<int>{};
        QTest::newRow("two colons") << QStringList{"-a", "1:2:3"} << QList<int>{};
    }
    void addresses()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<int>, addresses);
        const ParsedArgs r = parse_args_or_error(QStringList{"rzt604-cli"} + args << "read");
        if (addresses.isEmpty()) {
            QVERIFY2(r.error.contains(args[1]), qPrintable(r.error));
        } else {
            QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
            QCOMPARE(r.args.addresses, addresses);
        }
    }

    void short_version()
    {
        for (const char *option : {"-V", "--version"})
            QCOMPARE(parse_args_or_error({"rzt604-cli", QString::fromLatin1(option)}).output,
                     QStringLiteral("rzt604-cli " RZT_VERSION "\n"));
    }
};

QTEST_GUILESS_MAIN(TestCliArgs)
#include "tst_cli_args.moc"
