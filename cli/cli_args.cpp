#include "cli_args.h"

#include "version.h"

#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

namespace {

const char *const description =
    "Контроллер RZT-604Д через последовательный порт, без окна.\n"
    "\n"
    "Команды:\n"
    "  read [--json]                  одно измерение, текстом или в JSON\n"
    "  params get [FILE]              девять параметров в файл параметров (без FILE - в stdout)\n"
    "  params set FILE [--verify]     девять параметров из проверенного файла в контроллер;\n"
    "                                 --verify читает их обратно и сравнивает с файлом\n"
    "  monitor [--csv FILE] [--duration SECONDS]\n"
    "                                 строка CSV на каждое измерение (опрос раз в 150 мс)\n"
    "                                 до конца срока или до Ctrl+C\n"
    "  scan [--from N] [--to M]       адреса, которые отвечают, по одному в строке\n"
    "\n"
    "Коды завершения:\n"
    "  0  успех\n"
    "  1  ошибка в командной строке\n"
    "  2  порт не открывается\n"
    "  3  файл неверен или не записывается, либо контроллер хранит не то, что в файле (--verify)\n"
    "  4  нет полного ответа за время --timeout\n"
    "\n"
    "Данные выводятся в stdout, ошибки - в stderr.";

const QStringList command_options = {"json", "verify", "csv", "duration", "from", "to"};

double number_option(const QCommandLineParser &p, const QString &name, double low, double high)
{
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok || v < low || v > high)
        usage_error(QStringLiteral("--%1: нужно число от %2 до %3").arg(name).arg(low).arg(high));
    return v;
}

int whole_option(const QCommandLineParser &p, const QString &name, int low, int high)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < low || v > high)
        usage_error(
            QStringLiteral("--%1: нужно целое число от %2 до %3").arg(name).arg(low).arg(high));
    return v;
}

void add_options(QCommandLineParser &p)
{
    p.setApplicationDescription(QString::fromUtf8(description));
    p.addOption({{"h", "help"}, "Эта справка."});
    p.addOption({"version", "Версия программы."});
    p.addPositionalArgument("command", "read, params get, params set, monitor или scan.");
    p.addOptions({
        {"port",
         "COMn (как в rzt604-modbus, с учётом [Ports] в тп.ini) или путь к устройству. "
         "По умолчанию порт из тп.ini рядом с программой, без него COM1.",
         "PORT"},
        {"address", "Адрес контроллера, 1..247 (по умолчанию 1).", "N", "1"},
        {"timeout", "Сколько секунд повторять запрос без полного ответа (по умолчанию 3).",
         "SECONDS", "3"},
        {"json", "read: вывести JSON."},
        {"verify", "params set: прочитать параметры обратно и сравнить с файлом."},
        {"csv", "monitor: писать строки в FILE, а не в stdout.", "FILE"},
        {"duration", "monitor: закончить через SECONDS секунд.", "SECONDS"},
        {"from", "scan: первый адрес (по умолчанию 1).", "N", "1"},
        {"to", "scan: последний адрес (по умолчанию 247).", "M", "247"},
    });
}

} // namespace

CliArgs parse_args(const QStringList &arguments)
{
    QCommandLineParser p;
    add_options(p);
    if (!p.parse(arguments))
        usage_error(p.errorText());
    if (p.isSet("help")) {
        std::fputs(qUtf8Printable(p.helpText()), stdout);
        std::exit(exit_ok);
    }
    if (p.isSet("version")) {
        std::printf("rzt604-cli %s\n", RZT_VERSION);
        std::exit(exit_ok);
    }
    CliArgs a;
    a.words = p.positionalArguments();
    for (const QString &name : command_options) {
        if (p.isSet(name))
            a.options << name;
    }
    a.port = p.value("port");
    a.address = whole_option(p, "address", 1, 247);
    a.timeout_ms = int(number_option(p, "timeout", 0.1, 3600) * 1000);
    a.json = p.isSet("json");
    a.verify = p.isSet("verify");
    a.csv = p.value("csv");
    if (p.isSet("duration"))
        a.duration_ms = int(number_option(p, "duration", 0, 7 * 86400) * 1000);
    a.from = whole_option(p, "from", 1, 247);
    a.to = whole_option(p, "to", a.from, 247);
    return a;
}

int fail(int code, const QString &text)
{
    std::fprintf(stderr, "rzt604-cli: %s\n", qUtf8Printable(text));
    return code;
}

void usage_error(const QString &text)
{
    fail(exit_usage, text + QStringLiteral(" (см. --help)"));
    std::exit(exit_usage);
}
