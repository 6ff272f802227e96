#include "config.h"
#include "fake_config_view.h"
#include "ini_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QString reading = QStringLiteral("Чтение конфигурации");
const QString saving = QStringLiteral("Сохранение конфигурации");

QByteArray load(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

[[nodiscard]] bool store(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

bool set_modified(const QString &path, const QDateTime &time)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime);
}

QString com(const QString &path)
{
    return read_ini_string(path, "PC config", "COM", "1");
}

QStringList files_in(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ini;

private slots:
    void init()
    {
        ini = dir.filePath(QStringLiteral("тп.ini"));
        QFile::remove(ini);
    }

    void missing_file_is_created()
    {
        FakeConfigView view;
        uint8_t port = 9;
        read_config(ini, port, view);
        QCOMPARE(port, uint8_t(1));
        QCOMPARE(load(ini), QByteArray("[PC config]\r\nCOM=1\r\n[VRE config]\r\nMBSLAD=-1\r\n"));
        QCOMPARE(view.statuses, QStringList({saving, QString(), QString()}));
        QVERIFY(view.boxes.isEmpty());
    }

    // The port number is a whole number 1..255 or a mistake: taking COM1 or
    // the nearest number instead could open another device.
    void port_value_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("expected"); // -1: the read-error box
        QTest::newRow("blanks") << QByteArray("[PC config]\nCOM= 3 \n") << 3;
        QTest::newRow("16") << QByteArray("[PC config]\r\nCOM=16\r\n") << 16;
        QTest::newRow("255") << QByteArray("[PC config]\nCOM=255\n") << 255;
        QTest::newRow("no section") << QByteArray("[Ports]\nCOM=5\n") << 1;
        QTest::newRow("no key") << QByteArray("[PC config]\n;COM=5\n[x]\nCOM=5\n") << 1;
        QTest::newRow("0") << QByteArray("[PC config]\nCOM=0") << -1;
        QTest::newRow("fraction") << QByteArray("[PC config]\nCOM=1.6\n") << -1;
        QTest::newRow("comma fraction") << QByteArray("[PC config]\nCOM=2,0\n") << -1;
        QTest::newRow("empty") << QByteArray("[PC config]\nCOM=\n") << -1;
        QTest::newRow("abc") << QByteArray("[PC config]\nCOM=abc\n") << -1;
        QTest::newRow("256") << QByteArray("[PC config]\nCOM=256\n") << -1;
        QTest::newRow("-1") << QByteArray("[PC config]\nCOM=-1\n") << -1;
        QTest::newRow("+3") << QByteArray("[PC config]\nCOM=+3\n") << -1;
        QTest::newRow("huge") << QByteArray("[PC config]\nCOM=99999999999\n") << -1;
        QTest::newRow("inf") << QByteArray("[PC config]\nCOM=inf\n") << -1;
        QTest::newRow("nan") << QByteArray("[PC config]\nCOM=nan\n") << -1;
    }
    void port_value()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, expected);
        QVERIFY(store(ini, file));
        FakeConfigView view;
        uint8_t port = 200;
        read_config(ini, port, view);
        QCOMPARE(load(ini), file);
        if (expected < 0) {
            QCOMPARE(port, uint8_t(1));
            QCOMPARE(view.statuses, QStringList{reading});
            QCOMPARE(view.boxes.size(), 1);
            // The file and the value named, and what to write instead.
            const QString value = QString::fromUtf8(file.mid(file.indexOf("COM=") + 4).trimmed());
            QVERIFY2(view.boxes[0].contains(QDir::toNativeSeparators(ini) + ": COM=" + value) &&
                         view.boxes[0].contains("от 1 до 255"),
                     qPrintable(view.boxes[0]));
        } else {
            QCOMPARE(int(port), expected);
            QCOMPARE(view.statuses, QStringList({reading, QString()}));
            QVERIFY(view.boxes.isEmpty());
        }
    }

    void retry_rereads_file()
    {
        QVERIFY(store(ini, "[PC config]\nCOM=abc\n"));
        FakeConfigView view;
        // Retry, the second time with the file mended; Cancel when it could
        // not be.
        view.answer = [&] { return view.boxes.size() != 2 || store(ini, "[PC config]\nCOM=7\n"); };
        uint8_t port = 0;
        read_config(ini, port, view);
        QCOMPARE(port, uint8_t(7));
        QCOMPARE(view.boxes.size(), 2);
        QCOMPARE(view.statuses, QStringList({reading, QString()}));
    }

    // A file that is there but cannot be read is named, not taken for a
    // missing one (re-created, losing its "Ports") nor waited on for ever.
    void unusable_file_is_named_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("binary") << "binary"
                                << "не текстовый";
        QTest::newRow("UTF-16") << "utf16"
                                << "записан в UTF-16";
        QTest::newRow("folder") << "folder"
                                << "не обычный файл";
        QTest::newRow("pipe") << "pipe"
                              << "не обычный файл";
        QTest::newRow("link to itself") << "loop"
                                        << "ссылка не ведёт к файлу";
        QTest::newRow("unreadable") << "unreadable"
                                    << "не читается (нет прав доступа)";
    }
    void unusable_file_is_named()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        const QByteArray text = "[PC config]\r\nCOM=7\r\n[Ports]\r\nCOM7=/dev/ttyS9\r\n";
        if (kind == "binary")
            QVERIFY(store(ini, text + QByteArray(16, '\0')));
        else if (kind == "utf16")
            QVERIFY(store(ini, "\xFF\xFE" + QByteArray(text).replace("", "\0")));
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(ini));
#ifdef Q_OS_WIN
        // No named pipes in the file system, and QFile::link makes a shortcut.
        else if (kind == "pipe" || kind == "loop")
            QSKIP("not on Windows");
#else
        else if (kind == "pipe")
            QCOMPARE(QProcess::execute("mkfifo", {ini}), 0);
        else if (kind == "loop")
            QVERIFY(QFile::link(ini, ini));
#endif
        else if (kind == "unreadable")
            QVERIFY(store(ini, text));
        // A pipe is never opened here: the read would wait for a writer.
        const auto contents = [&] { return QFileInfo(ini).isFile() ? load(ini) : QByteArray(); };
        const QByteArray before = contents();
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
            QDir(ini).removeRecursively();
            QFile::remove(ini);
        });
        if (kind == "unreadable") {
            QFile::setPermissions(ini, QFile::WriteOwner);
            if (QFile(ini).open(QIODevice::ReadOnly))
                QSKIP("this user reads any file (root)");
        }

        FakeConfigView view;
        uint8_t port = 9;
        read_config(ini, port, view);
        QCOMPARE(port, uint8_t(1));
        QCOMPARE(view.boxes.size(), 1);
        QVERIFY2(
            view.boxes[0].contains(QDir::toNativeSeparators(ini) + QStringLiteral(": ") + said),
            qPrintable(view.boxes[0]));
        // Left for the operator to mend, not replaced by a new file; read back
        // once this user may read it again.
        if (kind == "unreadable")
            QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(contents(), before);
        QCOMPARE(QFileInfo(ini).isSymLink(), kind == "loop");
        // The port table's reader returns too: a pipe once kept it waiting.
        if (!QFileInfo(ini).isFile())
            QCOMPARE(read_ini_string(ini, "Ports", "COM7", "-"), QStringLiteral("-"));
    }

    void read_value_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        const QByteArray long_value(300, 'x');
        QTest::newRow("names any case, blanks")
            << QByteArray("[a]\r\n [ Pc Config ] \r\n\tcom = 5 x \r\n") << "5 x";
        QTest::newRow("first occurrence")
            << QByteArray("[pc config]\nCOM=1\n[PC CONFIG]\nCOM=2\nCOM=3") << "1";
        QTest::newRow("comment skipped") << QByteArray("[PC config]\n; COM=2\nCOM=4") << "4";
        QTest::newRow("equals in value") << QByteArray("[PC config]\nCOM=a=b\n") << "a=b";
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[PC config]\nCOM=6\n") << "6";
        QTest::newRow("cap 254") << "[PC config]\nCOM=" + long_value + "\n" << QString(254, 'x');
        QTest::newRow("missing key") << QByteArray("[PC config]\nCOMX=1\n") << "def";
    }
    void read_value()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QVERIFY(store(ini, file));
        QCOMPARE(read_ini_string(ini, QStringLiteral("PC config"), QStringLiteral("COM"),
                                 QStringLiteral("def")),
                 expected);
    }

    void write_value_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const QByteArray ports = "; порты\r\n[Ports]\r\nCOM5=/dev/ttyUSB3\r\n";
        QTest::newRow("change in place, CRLF")
            << ports + "[pc CONFIG]\r\n  com = 3\r\n\r\n[x]\r\nCOM=9"
            << "PC config"
            << "12" << ports + "[pc CONFIG]\r\n  com =12\r\n\r\n[x]\r\nCOM=9";
        QTest::newRow("add after last key, LF")
            << QByteArray("[PC config]\nA=1\nB=2\n; tail\n\n[Ports]\nCOM5=/dev/ttyUSB3\n")
            << "PC config"
            << "4"
            << QByteArray("[PC config]\nA=1\nB=2\nCOM=4\n; tail\n\n[Ports]\nCOM5=/dev/ttyUSB3\n");
        QTest::newRow("add to empty section at end without newline")
            << QByteArray("[a]\nk=v\n[PC config]") << "PC config"
            << "4" << QByteArray("[a]\nk=v\n[PC config]\nCOM=4\n");
        QTest::newRow("new section, LF") << QByteArray("[a]\nk=v") << "PC config"
                                         << "4" << QByteArray("[a]\nk=v\n[PC config]\nCOM=4\n");
        QTest::newRow("new section, CRLF") << ports << "VRE config"
                                           << "-1" << ports + "[VRE config]\r\nCOM=-1\r\n";
        QTest::newRow("empty file") << QByteArray() << "s"
                                    << "1" << QByteArray("[s]\r\nCOM=1\r\n");
        QTest::newRow("line breaks become blanks") << QByteArray("[s]\r\nCOM=1\r\n") << "s"
                                                   << "a\r\nb\rc\n"
                                                   << QByteArray("[s]\r\nCOM=a  b c \r\n");
        QTest::newRow("missing file") << QByteArray("<missing>") << "s"
                                      << "1" << QByteArray("[s]\r\nCOM=1\r\n");
    }
    void write_value()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (before != "<missing>")
            QVERIFY(store(ini, before));
        QVERIFY(write_ini_string(ini, section, QStringLiteral("COM"), value));
        QCOMPARE(load(ini), after);
    }

    void save_updates_both_keys()
    {
        QVERIFY(store(ini, "[VRE config]\nMBSLAD=5\n[PC config]\nCOM=3\n"));
        FakeConfigView view;
        view.address = 42;
        save_config(ini, 12, view);
        QCOMPARE(load(ini), QByteArray("[VRE config]\nMBSLAD=42\n[PC config]\nCOM=12\n"));
        QCOMPARE(view.statuses, QStringList({saving, QString()}));
    }

    void read_only_is_refused_silently_data()
    {
        QTest::addColumn<bool>("lock_folder");
        QTest::newRow("file") << false;
        QTest::newRow("folder") << true;
    }
    void read_only_is_refused_silently()
    {
        QFETCH(bool, lock_folder);
#ifdef Q_OS_WIN
        if (lock_folder)
            QSKIP("a folder's read-only attribute does not stop new files on Windows");
#endif
        QTemporaryDir sub(dir.filePath(QStringLiteral("ro-XXXXXX")));
        const QString path = sub.filePath(QStringLiteral("тп.ini"));
        const QByteArray original = "[PC config]\r\nCOM=3\r\n";
        const auto read_only =
            QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner;
        if (lock_folder) {
            QVERIFY(QFile::setPermissions(sub.path(), read_only));
        } else {
            QVERIFY(store(path, original));
            QVERIFY(QFile::setPermissions(path,
                                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        FakeConfigView view;
        save_config(path, 8, view);
        QVERIFY(!write_ini_string(path, QStringLiteral("PC config"), QStringLiteral("COM"),
                                  QStringLiteral("9")));
        QCOMPARE(load(path), lock_folder ? QByteArray("<missing>") : original);
        QCOMPARE(view.statuses, QStringList({saving, QString()}));
        QVERIFY(view.boxes.isEmpty());
        QFile::setPermissions(sub.path(), read_only | QFile::WriteOwner);
    }

    void full_disk_keeps_old_file()
    {
        QTemporaryDir mnt(dir.filePath(QStringLiteral("full-XXXXXX")));
        const QStringList mount = {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt.path()};
        if (QProcess::execute(QStringLiteral("mount"), mount) != 0)
            QSKIP("cannot mount a small tmpfs here (needs root on Linux)");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mnt.path()}); });
        const QString path = mnt.filePath(QStringLiteral("тп.ini"));
        const QByteArray original = "[PC config]\r\nCOM=3\r\n[VRE config]\r\nMBSLAD=5\r\n";
        QVERIFY(store(path, original));
        QFile filler(mnt.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(128 * 1024, 'x'));
        filler.close();
        QCOMPARE(QStorageInfo(mnt.path()).bytesAvailable(), 0);

        QVERIFY(!write_ini_string(path, "PC config", "COM", "12"));
        FakeConfigView view;
        save_config(path, 12, view);
        QCOMPARE(load(path), original);
        QCOMPARE(files_in(mnt.path()), QStringList({"filler", "тп.ini"}));
        QCOMPARE(view.statuses, QStringList({saving, QString()}));
        QVERIFY(view.boxes.isEmpty());
    }

    void write_cut_short_keeps_old_file()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a file size limit (setrlimit)");
#else
        QTemporaryDir sub(dir.filePath(QStringLiteral("cut-XXXXXX")));
        const QString path = sub.filePath(QStringLiteral("тп.ini"));
        const QByteArray original = "[PC config]\r\nCOM=3\r\n";
        QVERIFY(store(path, original));
        // Writes past 4 KiB fail with EFBIG part way through the new file. The
        // value fits Qt's write buffer, so the failure shows only at the flush.
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit unlimited{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        rlimit limit = unlimited;
        limit.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool written = write_ini_string(path, "PC config", "COM", QString(8000, '7'));
        setrlimit(RLIMIT_FSIZE, &unlimited);
        std::signal(SIGXFSZ, handler);

        QVERIFY(!written);
        QCOMPARE(load(path), original);
        QCOMPARE(files_in(sub.path()), QStringList{"тп.ini"});
#endif
    }

    void save_keeps_symlink_and_mode()
    {
#ifndef Q_OS_UNIX
        QSKIP("symbolic links and modes are a POSIX affair");
#else
        QTemporaryDir sub(dir.filePath(QStringLiteral("link-XXXXXX")));
        const QString real = sub.filePath(QStringLiteral("real.ini"));
        const QString symlink = sub.filePath(QStringLiteral("тп.ini"));
        QVERIFY(store(real, "[PC config]\nCOM=3\n"));
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(real, mode));
        QVERIFY(QFile::link(real, symlink));

        QVERIFY(write_ini_string(symlink, "PC config", "COM", "4"));
        QVERIFY(QFileInfo(symlink).isSymLink());
        QCOMPARE(load(real), QByteArray("[PC config]\nCOM=4\n"));
        const auto user = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
        QCOMPARE(QFileInfo(real).permissions() & ~user, mode);
#endif
    }

    void file_lives_beside_program_or_with_user_data()
    {
        QTest::addColumn<QString>("folder"); // "portable", "read-only" or "system"
        QTest::addColumn<bool>("file_there");
        QTest::addColumn<bool>("beside");
        QTest::newRow("portable, first run") << "portable" << false << true;
        QTest::newRow("read-only stick with its file") << "read-only" << true << true;
        QTest::newRow("read-only, no file") << "read-only" << false << false;
        QTest::newRow("installed, writable") << "system" << false << false;
    }
    void file_lives_beside_program_or_with_user()
    {
        QFETCH(QString, folder);
        QFETCH(bool, file_there);
        QFETCH(bool, beside);
        QTemporaryDir home;
        QString program = home.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(program));
#ifdef Q_OS_WIN
        const char *user_var = "APPDATA";
        // Program Files, as Windows names it to programs; writable under Wine.
        const QByteArray program_files = qgetenv("ProgramFiles");
        const auto restore = qScopeGuard([&] { qputenv("ProgramFiles", program_files); });
        if (folder == QLatin1String("system"))
            qputenv("ProgramFiles", QDir::toNativeSeparators(home.path()).toLocal8Bit());
#else
        const char *user_var = "XDG_CONFIG_HOME";
        // Under root, /usr/bin is as writable as any folder.
        if (folder == QLatin1String("system"))
            program = QStringLiteral("/usr/bin");
#endif
        const QByteArray user_base = qgetenv(user_var);
        const auto restore_user = qScopeGuard([&] { qputenv(user_var, user_base); });
        qputenv(user_var, home.filePath(QStringLiteral("user")).toLocal8Bit());
        if (file_there)
            QVERIFY(store(program + QStringLiteral("/тп.ini"), "[PC config]\r\nCOM=3\r\n"));
        const QString made = home.filePath(QStringLiteral("program"));
        const auto unlock = qScopeGuard([&] {
            QFile::setPermissions(made, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (folder == QLatin1String("read-only")) {
            QVERIFY(QFile::setPermissions(made, QFile::ReadOwner | QFile::ExeOwner));
            // root writes anywhere: a folder that is not there stands in.
            if (!file_there && QFileInfo(made).isWritable())
                program = home.filePath(QStringLiteral("gone"));
        }

        const QString path = config_path_for(program);

        const QString user_dir = home.filePath(QStringLiteral("user/rzt604-modbus"));
        QCOMPARE(path, (beside ? program : user_dir) + QStringLiteral("/тп.ini"));
        // A place chosen for a new file must take it: the first save would
        // otherwise be refused without a word. A stick that is read-only keeps
        // its file, and its saves are refused as such.
        if (!file_there)
            QVERIFY(QFileInfo(QFileInfo(path).path()).isWritable());
    }

    void unchanged_file_is_read_once()
    {
        // The keys, 1 MB of empty lines, and the port map that is read key by key.
        QByteArray data = "[PC config]\r\nCOM=3\r\n" + QByteArray(1'000'000, '\n') + "[Ports]\r\n";
        for (int n = 1; n <= 16; ++n)
            data += "COM" + QByteArray::number(n) + "=/dev/ttyX" + QByteArray::number(n) + "\r\n";
        QVERIFY(store(ini, data));
        const QDateTime stamp = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(set_modified(ini, stamp));

        const qint64 before = ini_file_loads();
        for (int round = 0; round < 3; ++round) {
            QCOMPARE(com(ini), QStringLiteral("3"));
            for (int n = 1; n <= 16; ++n)
                QCOMPARE(read_ini_string(ini, "Ports", QStringLiteral("COM%1").arg(n), {}),
                         QStringLiteral("/dev/ttyX%1").arg(n));
        }
        QCOMPARE(ini_file_loads() - before, 1);

        // Same size, same time: only the writer can tell the reader of the change.
        QVERIFY(write_ini_string(ini, "PC config", "COM", "4"));
        QVERIFY(set_modified(ini, stamp));
        QCOMPARE(com(ini), QStringLiteral("4"));
        QCOMPARE(ini_file_loads() - before, 2);
    }

    // A file past the size limit is not taken into memory by any reader: its
    // keys read as missing, and a save leaves it alone.
    void oversized_file_is_not_read()
    {
        const QByteArray head = "[PC config]\r\nCOM=3\r\n[Ports]\r\nCOM5=/dev/ttyX\r\n";
        QVERIFY(store(ini, head));
        QFile f(ini);
        QVERIFY(f.resize(2 << 20)); // sparse: no disk is used for the zeros
        QCOMPARE(read_ini_string(ini, "Ports", "COM5", "-"), QStringLiteral("-"));
        QVERIFY(!write_ini_string(ini, "PC config", "COM", "4"));
        QCOMPARE(QFileInfo(ini).size(), qint64(2 << 20));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(head.size()), head);
        QVERIFY(ini_file_problem(ini).contains(QStringLiteral("слишком велик")));
    }

    void rewrite_within_one_clock_tick_is_seen()
    {
        QVERIFY(store(ini, "[PC config]\nCOM=2\n"));
        const QDateTime stamp = QFileInfo(ini).lastModified();
        QCOMPARE(com(ini), QStringLiteral("2"));
        // Another program writes as many bytes before the file system's clock moves on.
        QVERIFY(store(ini, "[PC config]\nCOM=5\n"));
        QVERIFY(set_modified(ini, stamp));
        QCOMPARE(com(ini), QStringLiteral("5"));
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
