#include "sim_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <random>

const QString memory_pattern = QStringLiteral("{address}");

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "rzt604-sim: %s\n", qPrintable(message));
    std::exit(2);
}

namespace {

double share_option(const QCommandLineParser &p, const QString &name)
{
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok || v < 0 || v > 1)
        fail(QStringLiteral("--%1: нужна доля от 0 до 1").arg(name));
    return v;
}

long int_option(const QCommandLineParser &p, const QString &name, long low, long high)
{
    bool ok = false;
    const long v = p.value(name).toLong(&ok);
    if (!ok || v < low || v > high)
        fail(QStringLiteral("--%1: нужно целое число от %2 до %3").arg(name).arg(low).arg(high));
    return v;
}

void add_options(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Симулятор контроллера токовой защиты RZT-604Д: ведомое устройство Modbus RTU,\n"
        "115200 8N1. Отвечает на функцию 3 для регистров 200..209 (200 состояние, 201/202\n"
        "версии протокола 2.05 и программы 1.12, 203 счётчик чтений, 204..206 фазные токи\n"
        "в мА около 1200, 207 частота в 0,01 Гц около 5000, 208/209 аналоговые входы) и на\n"
        "функции 100/101, которые читают и пишут 14 байт памяти параметров 257..270.\n"
        "Память по умолчанию: подстройки 100 100 100 %, Макс I (тмр) 5000 мА, таймер 125\n"
        "(12,5 с), Макс I (мгн) 20000 мА, трансформатор тока 1000 (100,0 А), смещение\n"
        "тока 0, режим реле 0.\n"
        "Несколько адресов (--address 1,2,5) — несколько контроллеров на одной линии, у\n"
        "каждого свои показания и память: каждый адрес выше 1 прибавляет 100 мА к токам,\n"
        "10 (0,1 Гц) к частоте по кругу из пяти адресов и 10 (1 с) к таймеру, с повтором\n"
        "через каждые 32 адреса. Другим адресам ответа нет; широковещательная запись\n"
        "(адрес 0) попадает в память каждого. Параметры сбоев действуют на всю линию.\n"
        "Запрос кончается на длине, которую задаёт код его функции; запрос другой функции —\n"
        "после 20 мс тишины, которая отбрасывает и неполные кадры, и помехи на линии.\n"
        "По умолчанию создаёт псевдотерминал, печатает путь к нему первой строкой\n"
        "стандартного вывода и обслуживает его до SIGINT или SIGTERM. Ответ уходит целиком\n"
        "сразу, если --baud не задаёт ему время последовательной линии.\n"
        "С --mbtcp вместо этого обслуживает Modbus TCP, без псевдотерминала: те же\n"
        "контроллеры, каждый по своему адресу как номеру устройства (unit id), сколько\n"
        "угодно клиентам сразу; первая строка стандартного вывода тогда\n"
        "mbtcp://127.0.0.1:ПОРТ — порт, который он слушает (выбранный им для --mbtcp 0).\n"
        "--drop, --split, --delay, --exception и --ignore-write действуют и там; --corrupt\n"
        "и --garbage относятся к последовательной линии и не принимаются."));
    p.addHelpOption();
    p.addOptions({
        {{"a", "address"},
         "Адреса, на которые отвечать, 1..247: один (5), список (1,2,5), диапазон (1-4 или "
         "1:4) или всё вместе (1,3-5); по умолчанию 1.",
         "LIST",
         "1"},
        {"seed", "Начальное число для шума измерений и выбора сбоев (по умолчанию случайное).",
         "N"},
        {"link", "Сделать ещё символьную ссылку PATH на псевдотерминал (старая ссылка заменяется).",
         "PATH"},
        {"device",
         "Обслуживать существующее последовательное устройство на 115200 8N1 вместо "
         "псевдотерминала.",
         "PATH"},
        {"memory",
         "Хранить память параметров в FILE: читается при запуске, если есть, и сохраняется после "
         "каждой записи. {address} в FILE заменяется адресом; с несколькими адресами он "
         "обязателен, чтобы у каждого контроллера был свой файл.",
         "FILE"},
        {"drop", "Доля P (0..1) ответов, которые не отправляются.", "P", "0"},
        {"corrupt", "Доля P (0..1) ответов, отправленных с неверной CRC.", "P", "0"},
        {"split", "Доля P (0..1) ответов, отправленных двумя частями с паузой между ними.", "P",
         "0"},
        {"split-pause", "Пауза между частями разделённого ответа (по умолчанию 200).", "MS", "200"},
        {"delay", "Задерживать каждый ответ на MS миллисекунд (по умолчанию 0).", "MS", "0"},
        {"exception", "Отвечать на каждый запрос исключением CODE (1..255).", "CODE"},
        {"ignore-write",
         "Отвечать на запись параметра по адресу ADDR (257..270), но хранить прежнее значение, "
         "на каждом адресе.",
         "ADDR"},
        {"garbage", "Каждые MS миллисекунд посылать несколько случайных байтов без запроса.", "MS"},
        {"baud",
         "Выдавать ответы в темпе последовательной линии на N бод, 8N1: десять битов на байт "
         "(86,8 мкс при 115200), ответ за ответом. С --mbtcp ответ уходит целиком, когда пришёл "
         "бы его последний байт. Не с --device: у него своё время.",
         "N"},
        {"turnaround",
         "С --baud: первый байт ответа уходит через MS миллисекунд после последнего байта "
         "запроса (по умолчанию 0); --delay прибавляется к этому.",
         "MS"},
        {"mbtcp",
         "Обслуживать Modbus TCP на порту PORT адреса 127.0.0.1 вместо псевдотерминала; 0 — "
         "выбрать свободный порт. Первая строка стандартного вывода — mbtcp://127.0.0.1:PORT.",
         "PORT"},
        {"gateway-exceptions",
         "С --mbtcp: за устройство, которое не отвечает (другой адрес, пропущенный ответ), "
         "отвечать исключением 0x0B, а на номер устройства вне 1..247 — исключением 0x0A, как "
         "шлюз; без этого параметра ни на то, ни на другое ответа нет."},
        {{"v", "verbose"},
         "Записывать запросы, ответы и сбои в шестнадцатеричном виде с метками времени "
         "в стандартный поток ошибок."},
        // Not addVersionOption(): its -v is taken by --verbose.
        {{"V", "version"}, "Напечатать версию и выйти."},
    });
}

// --baud, --turnaround, --mbtcp and what goes with them.
void parse_line_options(const QCommandLineParser &p, Options &o)
{
    o.pacing.baud = p.isSet("baud") ? int(int_option(p, "baud", 300, 4000000)) : 0;
    if (p.isSet("turnaround") && o.pacing.baud == 0)
        fail(QStringLiteral("--turnaround задаётся только вместе с --baud"));
    o.pacing.turnaround_ms = p.isSet("turnaround") ? int(int_option(p, "turnaround", 0, 60000)) : 0;
    if (o.pacing.baud > 0 && !o.device.isEmpty())
        fail(QStringLiteral("--baud задаёт темп псевдотерминалу или --mbtcp; у --device своё "
                            "время"));
    o.gateway_exceptions = p.isSet("gateway-exceptions");
    if (!p.isSet("mbtcp")) {
        if (o.gateway_exceptions)
            fail(QStringLiteral("--gateway-exceptions задаётся только вместе с --mbtcp"));
        return;
    }
    o.mbtcp_port = int(int_option(p, "mbtcp", 0, 65535));
    for (const char *serial : {"link", "device", "garbage", "corrupt"}) {
        if (p.isSet(QLatin1String(serial)))
            fail(QStringLiteral("--%1 относится к последовательной линии, а не к --mbtcp")
                     .arg(QLatin1String(serial)));
    }
}

} // namespace

Options parse_options(const QCoreApplication &app)
{
    QCommandLineParser p;
    add_options(p);
    p.process(app);
    if (p.isSet("version"))
        p.showVersion();
    if (!p.positionalArguments().isEmpty())
        fail(
            QStringLiteral("лишний аргумент %1 (см. --help)").arg(p.positionalArguments().first()));
    Options o;
    QString error;
    o.addresses = sim::parse_address_list(p.value("address"), &error);
    if (o.addresses.isEmpty())
        fail(QStringLiteral("--address: %1").arg(error));
    o.seed =
        p.isSet("seed") ? quint32(int_option(p, "seed", 0, 0xFFFFFFFFL)) : std::random_device{}();
    o.symlink = p.value("link");
    o.device = p.value("device");
    if (!o.symlink.isEmpty() && !o.device.isEmpty())
        fail(QStringLiteral("--link относится к псевдотерминалу, а не к --device"));
    o.memory = p.value("memory");
    if (o.addresses.size() > 1 && !o.memory.isEmpty() && !o.memory.contains(memory_pattern))
        fail(
            QStringLiteral("--memory: с несколькими адресами в FILE нужен %1").arg(memory_pattern));
    o.verbose = p.isSet("verbose");
    o.ignored_write = p.isSet("ignore-write") ? int(int_option(p, "ignore-write", 257, 270)) : 0;
    o.garbage_ms = p.isSet("garbage") ? int(int_option(p, "garbage", 1, 3600000)) : 0;
    o.faults.drop = share_option(p, "drop");
    o.faults.corrupt = share_option(p, "corrupt");
    o.faults.split = share_option(p, "split");
    o.faults.split_pause_ms = int(int_option(p, "split-pause", 0, 60000));
    o.faults.delay_ms = int(int_option(p, "delay", 0, 60000));
    o.faults.exception_code = p.isSet("exception") ? int(int_option(p, "exception", 1, 255)) : 0;
    parse_line_options(p, o);
    return o;
}
