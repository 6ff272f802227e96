#include "csv_recorder.h"

#include "measurement_csv.h"

#include <QFileInfo>

namespace {

constexpr int flush_ms = 1000;

} // namespace

CsvRecorder::CsvRecorder(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(flush_ms);
    connect(&m_timer, &QTimer::timeout, this, &CsvRecorder::flush);
}

CsvRecorder::~CsvRecorder()
{
    stop();
}

bool CsvRecorder::start(const QString &path)
{
    stop();
    m_error.clear();
    m_file.setFileName(path);
    // Unbuffered: every flush is one write() whose result we see, and the
    // file's size on disk is always known.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("Не удалось создать файл %1: %2").arg(path, m_file.errorString());
        return false;
    }
    m_path = QFileInfo(path).absoluteFilePath();
    m_rows = m_rows_written = m_bytes_written = 0;
    m_pending.clear();
    const QByteArray header = csv_header();
    if (m_file.write(header) != header.size()) {
        m_error =
            QStringLiteral("Не удалось записать в файл %1: %2").arg(path, m_file.errorString());
        m_file.close();
        return false;
    }
    m_bytes_written = header.size();
    m_clock.start();
    m_timer.start();
    return true;
}

void CsvRecorder::stop()
{
    if (!recording())
        return;
    if (flush())
        m_file.close();
    m_timer.stop();
}

void CsvRecorder::append(const Measurement &m)
{
    if (!recording() || !m.complete())
        return;
    if (m_pending.isEmpty())
        m_pending_since_ms = m.time_ms;
    m_pending += csv_row(m);
    ++m_rows;
    if (m.time_ms - m_pending_since_ms >= flush_ms)
        flush();
}

bool CsvRecorder::flush()
{
    if (!recording())
        return false;
    if (m_pending.isEmpty())
        return true;
    // A removed folder does not fail the write of a file that is still open
    // (on Linux it goes on into an unlinked file), so look for it.
    if (!QFileInfo::exists(m_path)) {
        fail(QStringLiteral("Запись в CSV остановлена: файл %1 или его папка больше не существует.")
                 .arg(m_path));
        return false;
    }
    const qint64 n = m_file.write(m_pending);
    if (n != m_pending.size()) {
        const QString why = m_file.errorString();
        m_file.resize(m_bytes_written); // drop a row cut short
        fail(QStringLiteral("Запись в CSV остановлена: не удалось записать в файл %1 (%2). "
                            "Диск заполнен или недоступен. Записанные строки (%3) сохранены.")
                 .arg(m_path, why)
                 .arg(m_rows_written));
        return false;
    }
    m_bytes_written += n;
    m_rows_written = m_rows;
    m_pending.clear();
    return true;
}

void CsvRecorder::fail(const QString &message)
{
    m_error = message;
    m_pending.clear();
    m_rows = m_rows_written;
    m_file.close();
    m_timer.stop();
    emit failed(message);
}
