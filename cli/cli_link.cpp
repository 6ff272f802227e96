#include "cli_link.h"

#include "config.h"
#include "make_serial_port.h"
#include "port_session.h"
#include "request_ring.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

constexpr int tick_ms = 150; // the window's Timer1

QString reason(PortError error)
{
    if (error == PortError::BadNumber)
        return QStringLiteral("известны только COM%1..COM%2")
            .arg(first_port_number)
            .arg(last_port_number);
    return port_error_reason(error).trimmed();
}

// "PC config"/"COM" of тп.ini read as the window reads it, but quietly: a
// missing file stays missing and a bad value means COM1.
int configured_port()
{
    const QString text = read_ini_string(config_path(), QStringLiteral("PC config"),
                                         QStringLiteral("COM"), QStringLiteral("1"));
    bool ok = false;
    const double n = std::nearbyint(text.trimmed().toDouble(&ok));
    if (ok && n >= 0 && n <= 255)
        return int(n);
    fail(exit_ok,
         QStringLiteral("%1: COM=%2 - не номер порта; взят COM1").arg(config_path(), text));
    return 1;
}

} // namespace

CliLink::CliLink() : m_port(make_serial_port(config_path())), m_master(*m_port)
{
    m_master.par_table_init();
    // Only what the command asks goes on the line: no poll is left in flight
    // when it ends, for the next run to take as its answer.
    m_master.link().idle_pdu.clear();
    QObject::connect(&m_master, &Master::exchanged, [this](const Exchange &e) { note(e); });
}

int CliLink::open(const CliArgs &args)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(args.port);
    PortError error = PortError::None;
    if (args.port.isEmpty() || match.hasMatch()) {
        const int n = args.port.isEmpty() ? configured_port() : match.captured(1).toInt();
        error = m_port->set_port_number(n);
        m_label = QStringLiteral("COM%1").arg(n);
        // Windows opens "COMn" as it is; elsewhere the device says more.
        if (error == PortError::None && m_port->device_name(n) != m_label)
            m_label += QStringLiteral(" (%1)").arg(m_port->device_name(n));
    } else {
        error = m_port->set_device(args.port);
        m_label = args.port;
    }
    if (error == PortError::None)
        error = m_port->open();
    if (error != PortError::None)
        return fail(exit_port, QStringLiteral("порт %1 не открыт: %2").arg(m_label, reason(error)));
    // A reply to a request of an earlier run may still wait in the port; it
    // would be taken for the answer to this run's first request.
    while (m_port->bytes_waiting() > 0)
        m_port->read_byte();
    m_master.set_address(args.address);
    m_timeout_ms = args.timeout_ms;
    return exit_ok;
}

bool CliLink::run(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(tick_ms);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] { tick(done); });
    m_loop = &loop;
    m_done = false;
    progress();
    // The first frame goes out before the loop starts, so that the loop's
    // read notifications, not a tick, take in its reply.
    tick(done);
    if (m_loop) {
        timer.start();
        loop.exec();
    }
    m_loop = nullptr;
    return m_done;
}

void CliLink::tick(const std::function<bool()> &done)
{
    if (!m_loop)
        return;
    m_master.exchange_step();
    m_done = done();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_done || (m_deadline_ms >= 0 && now >= m_deadline_ms))
        stop();
}

void CliLink::ask_measurement()
{
    const std::vector<uint8_t> poll = measurement_poll_pdu();
    push(m_master.link().ring, poll.front(), std::span(poll).subspan(1));
}

void CliLink::progress()
{
    m_deadline_ms = QDateTime::currentMSecsSinceEpoch() + m_timeout_ms;
}

void CliLink::stop()
{
    if (m_loop)
        m_loop->quit();
    m_loop = nullptr;
}

void CliLink::note(const Exchange &e)
{

    if (e.exception_code >= 0)
        m_last_exception = e.exception_code;
    if (e.verdict == Verdict::crc_mismatch)
        ++m_crc_failures;
}

int CliLink::no_answer() const
{
    QString text = QStringLiteral("нет полного ответа от адреса %1 через %2 за %3 с")
                       .arg(m_master.address())
                       .arg(m_label)
                       .arg(m_timeout_ms / 1000.0);
    if (m_last_exception >= 0)
        text += QStringLiteral(" (контроллер ответил исключением %1)").arg(m_last_exception);
    else if (m_crc_failures > 0)
        text += QStringLiteral(" (ответов с неверной КС: %1)").arg(m_crc_failures);
    return fail(exit_no_answer, text);
}
