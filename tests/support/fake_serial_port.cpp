#include "fake_serial_port.h"

#include <QTimer>

void FakeSerialPort::make_free(std::initializer_list<int> numbers)
{
    for (int n : numbers)
        open_result[n] = PortError::None;
}

void FakeSerialPort::lose()
{
    if (!m_open)
        return;
    m_open = false;
    m_lost = true;
    incoming.clear();
}

void FakeSerialPort::close()
{
    m_open = false;
    m_lost = false;
}

PortError FakeSerialPort::set_port_number(int n)
{
    if (m_open)
        return PortError::Busy;
    if (n < first_port_number || n > last_port_number)
        return PortError::BadNumber;
    m_number = n;
    return PortError::None;
}

QString FakeSerialPort::device_name(int n) const
{
    return QStringLiteral("/dev/fake%1").arg(n);
}

PortError FakeSerialPort::open()
{
    if (m_open)
        return PortError::Busy;
    open_attempts.append(m_number);
    m_lost = false;
    const auto it = open_result.find(m_number);
    const PortError result = it == open_result.end() ? PortError::NotAvailable : it->second;
    m_open = result == PortError::None;
    return result;
}

int FakeSerialPort::bytes_waiting()
{
    return m_open ? int(incoming.size()) : 0;
}

uint8_t FakeSerialPort::read_byte()
{
    if (!m_open || incoming.isEmpty())
        return 0;
    const auto b = uint8_t(incoming.front());
    incoming.remove(0, 1);
    return b;
}

void FakeSerialPort::write_frame(std::span<const uint8_t> frame)
{
    if (!m_open)
        return;
    written.append(
        QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size())));
    if (!responder)
        return;
    const QByteArray reply = responder(written.last());
    incoming += reply;
    if (!reply.isEmpty() && m_ready)
        QTimer::singleShot(0, m_ready);
}
