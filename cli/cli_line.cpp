#include "cli_line.h"

#include "config.h"
#include "serial_port_factory.h"
#include "stop_signal.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QString reason(PortError error)
{
    if (error == PortError::BadNumber)
        return QStringLiteral("известны только COM%1..COM%2")
            .arg(first_port_number)
            .arg(last_port_number);
    return port_error_reason(error).trimmed();
}

// "PC config"/"COM" of тп.ini read by the window's rule; a missing file
// stays missing. A value that is no port number ends the run before the
// port is opened: COM1 in its place could be another device.
int configured_port()
{
    QString why;
    if (const auto n = configured_port_number(config_path(), &why))
        return *n;
    fail(exit_port, why + QStringLiteral(", или задайте порт в --port"));
    std::exit(exit_port);
}

} // namespace

int CliLine::open(const CliArgs &args)
{
    m_line = std::make_unique<Line>(make_serial_port(config_path()), config_path());
    Line &line = *m_line;
    // Only what the command asks goes on the line: no poll is left in flight
    // when it ends, for the next run to take as its answer.
    line.set_polling(false);
    QObject::connect(&line, &Line::exchanged, [this](const Exchange &e) { tally(e); });
    QObject::connect(&line, &Line::port_lost, [this] {
        note(QStringLiteral("порт %1 потерян, ожидание подключения").arg(m_label));
    });
    QObject::connect(&line, &Line::port_returned,
                     [this] { note(QStringLiteral("порт %1 снова открыт").arg(m_label)); });

    // Without --port the port comes from тп.ini; from a file that cannot be
    // read it would be COM1 without its "Ports" entry: maybe another device.
    if (args.port.isEmpty()) {
        if (const QString problem = ini_file_problem(config_path()); !problem.isEmpty())
            return fail(exit_port,
                        problem + QStringLiteral("; порт не выбран, задайте его в --port"));
    }
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(args.port);
    PortError error = PortError::None;
    if (args.port.isEmpty() || match.hasMatch()) {
        bool ok = true;
        const int n = args.port.isEmpty() ? configured_port() : match.captured(1).toInt(&ok);
        m_label = args.port.isEmpty() ? QStringLiteral("COM%1").arg(n) : args.port.toUpper();
        if (!ok || n < first_port_number || n > last_port_number) {
            error = PortError::BadNumber;
        } else {
            line.set_com_port(uint8_t(n));
            // Windows opens "COMn" as it is; elsewhere the device says more.
            if (const QString device = line.port().device_name(n); device != m_label)
                m_label += QStringLiteral(" (%1)").arg(device);
        }
    } else {
        line.use_device(args.port);
        m_label = args.port;
    }
    if (error == PortError::None)
        error = line.open_configured();
    if (error != PortError::None) {
        QString why = reason(error);
        if (const QString detail = line.port().open_error_text(); !detail.isEmpty())
            why += QStringLiteral(" (%1)").arg(detail);
        return fail(exit_port, QStringLiteral("порт %1 не открыт: %2").arg(m_label, why));
    }
    line.set_address(args.address);
    line.set_reply_timeout(args.reply_timeout_ms);
    line.set_interval(args.interval_ms);
    m_addresses = args.addresses;
    m_timeout_ms = args.timeout_ms;
    return exit_ok;
}

bool CliLine::run(const std::function<bool()> &done)
{
    QEventLoop loop;
    QObject::connect(m_line.get(), &Line::stepped, &loop, [&] { after_tick(done); });
    // A line with nothing left to ask takes no more steps: the time-out and
    // the silences are looked at all the same.
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] { after_tick(done); });
    watch.start();
    stop_on_signals(&loop, [this] {
        m_interrupted = true;
        stop();
    });
    m_loop = &loop;
    m_done = false;
    progress();
    for (int a : std::as_const(m_addresses))
        m_last_answer_ms[a] = QDateTime::currentMSecsSinceEpoch();
    // The first frame goes out before the loop starts, so that the loop's
    // read notifications, not a tick, take in its reply.
    m_line->start(Line::Pace::replies, true);
    if (m_loop)
        loop.exec();
    m_line->stop();
    QObject::disconnect(m_line.get(), nullptr, &loop, nullptr);
    m_loop = nullptr;
    return m_done;
}

void CliLine::after_tick(const std::function<bool()> &done)
{
    if (!m_loop)
        return;
    m_done = done();
    if (m_done) {
        stop();
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_keep_waiting)
        check_silences(now);
    else if (now >= m_deadline_ms)
        stop();
}

void CliLine::check_silences(qint64 now)
{
    for (int a : std::as_const(m_addresses)) {
        if (m_silent.contains(a) || now - m_last_answer_ms.value(a) < m_timeout_ms)
            continue;
        m_silent.insert(a);
        note(silence_text(who(a)));
        if (answering)
            answering(a, false);
    }
}

void CliLine::progress(int address)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_deadline_ms = now + m_timeout_ms;
    const QList<int> from = address >= 0 ? QList<int>{address} : m_addresses;
    for (int a : from) {
        m_last_answer_ms[a] = now;
        if (!m_silent.remove(a))
            continue;
        note(QStringLiteral("ответы от %1 через %2 снова идут").arg(who(a), m_label));
        if (answering)
            answering(a, true);
    }
}

QString CliLine::who(int address) const
{
    return QStringLiteral("адреса %1").arg(address);
}

void CliLine::stop()
{
    if (m_loop)
        m_loop->quit();
    m_loop = nullptr;
}

void CliLine::tally(const Exchange &e)
{
    if (e.exception_code >= 0)
        m_last_exception = e.exception_code;
    if (e.verdict == Verdict::crc_mismatch)
        ++m_crc_failures;
    if (e.verdict == Verdict::malformed)
        ++m_malformed;
    m_noise_bytes += e.noise;
}

QString CliLine::silence_text(const QString &from) const
{
    // One substitution: a "%1" in a device path must stay as it is.
    QString text = QStringLiteral("нет полного ответа от %1 через %2 за %3 с")
                       .arg(from, m_label, QString::number(m_timeout_ms / 1000.0));
    QStringList seen;
    if (m_last_exception >= 0)
        seen << (exception_meaning(m_last_exception).isEmpty()
                     ? QStringLiteral("контроллер ответил исключением %1").arg(m_last_exception)
                     : QStringLiteral("ответ — исключение %1: %2")
                           .arg(m_last_exception)
                           .arg(exception_meaning(m_last_exception)));
    if (m_noise_bytes > 0)
        seen << QStringLiteral("помехи на линии: отброшено %1 байт").arg(m_noise_bytes);
    else if (m_crc_failures > 0)
        seen << QStringLiteral("ответов с неверной КС: %1").arg(m_crc_failures);
    if (m_malformed > 0)
        seen << QStringLiteral("ответов не той длины: %1").arg(m_malformed);
    if (!seen.isEmpty())
        text += QStringLiteral(" (%1)").arg(seen.join(QStringLiteral("; ")));
    return text;
}

int CliLine::no_answer(const QList<int> &silent) const
{
    const QList<int> &list = silent.isEmpty() ? m_addresses : silent;
    QStringList addresses;
    for (int a : list)
        addresses << QString::number(a);
    const QString from = list.size() == 1
                             ? who(list.first())
                             : QStringLiteral("адресов ") + addresses.join(QStringLiteral(", "));
    return fail(exit_no_answer, silence_text(from));
}
