#include "cli_args.h"

#include "version.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace {

const char *const description =
    "Контроллер RZT-604Д через последовательный порт, без окна.\n"
    "\n"
    "Команды:\n"
    "  read [--json]                  одно измерение, текстом или в JSON\n"
    "  params get [FILE]              девять параметров в файл параметров (без FILE или\n"
    "                                 с FILE \"-\" - в stdout)\n"
    "  params set FILE [--verify]     девять параметров из проверенного файла (\"-\" - из stdin)\n"
    "                                 в контроллер; записанное читается обратно, и каждый\n"
    "                                 параметр, которого контроллер не принял, назван;\n"
    "                                 --verify затем читает все заново и сравнивает с файлом\n"
    "  params compare FILE            прочитать девять параметров заново и вывести те,\n"
    "                                 что отличаются от файла\n"
    "  journal [--since DATE] [--until DATE] [--address N] [--json]\n"
    "                                 журнал изменений параметров: кто, когда, что записал\n"
    "                                 и что контроллер сохранил (таблицей или JSON)\n"
    "  monitor [--csv FILE [--append|--overwrite]] [--duration SECONDS]\n"
    "                                 строка CSV на каждое измерение (каждый контроллер\n"
    "                                 опрашивается раз в --interval, по умолчанию 1 с)\n"
    "                                 до конца срока или до Ctrl+C; существующий FILE\n"
    "                                 не перезаписывается без --append или --overwrite\n"
    "  scan [--from N] [--to M]       адреса, которые отвечают, по одному в строке;\n"
    "                                 каждому адресу даётся 30 мс, --timeout не действует\n"
    "  publish --mqtt URL [--topic PREFIX] [--duration SECONDS]\n"
    "                                 измерения, параметры и состояние каждого адреса\n"
    "                                 в брокер MQTT, пока не остановят\n"
    "\n"
    "С несколькими адресами (-a 1,2,5, 1-4 или 1:4) контроллеры на одной линии\n"
    "опрашиваются по очереди; read --json выводит строку JSON на адрес, monitor\n"
    "добавляет столбец address, params get пишет файл на адрес (в FILE {address}),\n"
    "params set записывает файл в каждый контроллер по очереди.\n"
    "\n"
    "Коды завершения:\n"
    "  0  успех\n"
    "  1  ошибка в командной строке\n"
    "  2  порт не открывается\n"
    "  3  файл неверен, не записывается или уже есть (monitor --csv)\n"
    "  4  нет полного ответа за время --timeout\n"
    "  5  контроллер хранит не то, что в файле (params set, params compare)\n"
    "  6  publish: брокер так и не был доступен или не получил часть сообщений\n"
    "  7  publish: брокер не принял имя и пароль или сертификат\n"
    "\n"
    "Данные выводятся в stdout, ошибки - в stderr.";

const QStringList command_options = {"json",     "verify", "csv", "append", "overwrite",
                                     "duration", "from",   "to",  "since",  "until"};

// A usage error found deep in the checks, carried out of them to
// parse_args_or_error.
struct UsageError {
    QString text;
};

[[noreturn]] void refuse(const QString &text)
{
    throw UsageError{text};
}

double number_option(const QCommandLineParser &p, const QString &name, double low, double high)
{
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    // Written so that NaN fails too.
    if (!ok || !(v >= low && v <= high))
        refuse(QStringLiteral("--%1: нужно число от %2 до %3").arg(name).arg(low).arg(high));
    return v;
}

int whole_option(const QCommandLineParser &p, const QString &name, int low, int high)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < low || v > high)
        refuse(QStringLiteral("--%1: нужно целое число от %2 до %3").arg(name).arg(low).arg(high));
    return v;
}

void add_options(QCommandLineParser &p)
{
    p.setApplicationDescription(QString::fromUtf8(description));
    p.addOption({{"h", "help"}, "Эта справка."});
    p.addOption({{"V", "version"}, "Версия программы."});
    p.addPositionalArgument(
        "команда",
        "read, params get, params set, params compare, journal, monitor, scan или publish.");
    p.addOptions({
        {"port",
         "COMn (как в rzt604-modbus, с учётом [Ports] в тп.ini), путь к устройству, "
         "tcp://УЗЕЛ:ПОРТ сервера последовательных портов (RTU поверх TCP) или "
         "mbtcp://УЗЕЛ[:ПОРТ] устройства или шлюза Modbus TCP (без порта 502). "
         "По умолчанию порт из тп.ini рядом с программой, без него COM1.",
         "PORT"},
        {{"a", "address"},
         "Адрес контроллера, 1..247 (по умолчанию 1), или несколько: 1,2,5, диапазон 1-4 "
         "или 1:4, или вместе: 1,3:5.",
         "N",
         "1"},
        {"timeout",
         "Сколько секунд повторять запрос без полного ответа (по умолчанию 3); monitor "
         "после этого сообщает о молчании и ждёт дальше.",
         "SECONDS", "3"},
        {"reply-timeout",
         "Сколько миллисекунд каждый запрос ждёт ответа, прежде чем уйдёт следующий "
         "(по умолчанию 150).",
         "MS", "150"},
        {"interval",
         "monitor, publish: как часто опрашивать каждый контроллер, в миллисекундах "
         "(по умолчанию 1000; 0 - так часто, как позволяет линия).",
         "MS", "1000"},
        {"json", "read: вывести JSON."},
        {"verify", "params set: после записи прочитать все параметры заново и сравнить с файлом "
                   "(записанное читается обратно всегда)."},
        {"csv", "monitor: писать строки в FILE, а не в stdout.", "FILE"},
        {"append", "monitor --csv: дописать строки в существующий FILE (столбцы те же)."},
        {"overwrite", "monitor --csv: заменить существующий FILE."},
        {"duration", "monitor, publish: закончить через SECONDS секунд.", "SECONDS"},
        {"from", "scan: первый адрес (по умолчанию 1).", "N", "1"},
        {"to", "scan: последний адрес (по умолчанию 247).", "M", "247"},
        {"since", "journal: записи с DATE (ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ).", "DATE"},
        {"until", "journal: записи по DATE включительно.", "DATE"},
        {"topic", "publish: начало тем (по умолчанию rzt604/<имя узла>).", "PREFIX"},
    });
#ifdef RZT_PUBLISH
    // --mqtt URL and the broker options, named as mosquitto_pub names them.
    p.addOptions(mqtt_command_line_options());
#endif
}

// "2026-12-08" or "2026-12-08T14:30[:15]", local time; a day alone given
// to --until means its end.
QDateTime date_option(const QCommandLineParser &p, const QString &name, bool end_of_day)
{
    if (!p.isSet(name))
        return {};
    const QString text = p.value(name).trimmed();
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid())
        return end_of_day ? day.endOfDay() : day.startOfDay();
    const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid())
        refuse(QStringLiteral("--%1: «%2» — не дата; нужно ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ")
                   .arg(name, text));
    return t;
}

CliArgs checked_args(const QCommandLineParser &p)
{
    CliArgs a;
    a.words = p.positionalArguments();
    for (const QString &name : command_options) {
        if (p.isSet(name))
            a.options << name;
    }
    a.port = p.value("port");
    QString why;
    a.addresses = address_list(p.value("address"), &why);
    if (a.addresses.isEmpty())
        refuse(QStringLiteral("--address: ") + why);
    a.address = a.addresses.first();
    a.address_given = p.isSet("address");
    a.timeout_ms = int(number_option(p, "timeout", 0.1, 3600) * 1000);
    a.reply_timeout_ms = whole_option(p, "reply-timeout", 5, 60000);
    a.interval_ms = whole_option(p, "interval", 0, 3600000);
    a.json = p.isSet("json");
    a.verify = p.isSet("verify");
    a.csv = p.value("csv");
    a.append = p.isSet("append");
    a.overwrite = p.isSet("overwrite");
    if (a.append && a.overwrite)
        refuse(QStringLiteral("--append и --overwrite вместе не задаются"));
    if ((a.append || a.overwrite) && a.csv.isEmpty())
        refuse(QStringLiteral("--append и --overwrite относятся к --csv FILE"));
    if (p.isSet("duration"))
        a.duration_ms = int(number_option(p, "duration", 0, 7 * 86400) * 1000);
    a.from = whole_option(p, "from", 1, 247);
    a.to = whole_option(p, "to", a.from, 247);
    a.since = date_option(p, "since", false);
    a.until = date_option(p, "until", true);
    if (a.since.isValid() && a.until.isValid() && a.until < a.since)
        refuse(QStringLiteral("--until раньше --since"));
    a.topic = p.value("topic");
#ifdef RZT_PUBLISH
    if (p.isSet("mqtt")) {
        const MqttSettingsResult mqtt = mqtt_settings(mqtt_options_from(p));
        if (!mqtt.error.isEmpty())
            refuse(mqtt.error);
        a.mqtt = mqtt.settings;
    }
    if (!a.topic.isEmpty() && !mqtt_topic_error(a.topic).isEmpty())
        refuse(QStringLiteral("--topic: ") + mqtt_topic_error(a.topic));
#endif
    return a;
}

} // namespace

ParsedArgs parse_args_or_error(const QStringList &arguments)
{
    ParsedArgs r;
    QCommandLineParser p;
    add_options(p);
    if (!p.parse(arguments)) {
        r.error = p.errorText();
        return r;
    }
    if (p.isSet("help")) {
        r.output = p.helpText();
        return r;
    }
    if (p.isSet("version")) {
        r.output = QStringLiteral("rzt604-cli %1\n").arg(QLatin1String(RZT_VERSION));
        return r;
    }
    try {
        r.args = checked_args(p);
    } catch (const UsageError &e) {
        r.error = e.text;
    }
    return r;
}

CliArgs parse_args(const QStringList &arguments)
{
    const ParsedArgs r = parse_args_or_error(arguments);
    if (!r.error.isEmpty())
        usage_error(r.error);
    if (!r.output.isEmpty()) {
        std::fputs(qUtf8Printable(r.output), stdout);
        std::exit(exit_ok);
    }
    return r.args;
}

QList<int> address_list(const QString &text, QString *why)
{
    QList<int> out;
    // A range as 1-4, or as 1:4 as mbpoll writes it.
    static const QRegularExpression item(
        QStringLiteral("^\\s*(\\d{1,3})(?:\\s*[-:]\\s*(\\d{1,3}))?\\s*$"));
    for (const QString &part : text.split(QLatin1Char(','))) {
        const auto m = item.match(part);
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
        if (!m.hasMatch() || first < 1 || last > 247 || last < first) {
            *why =
                QStringLiteral("«%1» — не адрес 1..247 и не диапазон вида 1-4 или 1:4").arg(part);
            return {};
        }
        for (int a = first; a <= last; ++a) {
            if (out.contains(a)) {
                *why = QStringLiteral("адрес %1 указан дважды").arg(a);
                return {};
            }
            out.append(a);
        }
    }
    return out;
}

int fail(int code, const QString &text)
{
    note(text);
    return code;
}

void note(const QString &text)
{
    std::fprintf(stderr, "rzt604-cli: %s\n", qUtf8Printable(text));
}

void usage_error(const QString &text)
{
    fail(exit_usage, text + QStringLiteral(" (см. --help)"));
    std::exit(exit_usage);
}
