#pragma once
// Logs measurements to a CSV file (the rows of measurement_csv.h). Rows wait
// in memory and go to the file in one write once the oldest waiting row is a
// second old, or at the latest on the next one-second timer tick, so a crash
// loses at most about a second. A failed write stops the recording; the file
// is cut back to the last whole row, so what was written stays readable.

#include "readings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

class CsvRecorder : public QObject {
    Q_OBJECT
public:
    explicit CsvRecorder(QObject *parent = nullptr);
    ~CsvRecorder() override;

    // Creates (or empties) the file and writes the header. On failure returns
    // false and error() says why.
    bool start(const QString &path);
    // Writes what is waiting and closes the file.
    void stop();
    void append(const Measurement &m);
    bool flush();

    bool recording() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    qint64 rows() const { return m_rows; }
    qint64 elapsed_ms() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    QString error() const { return m_error; }

signals:
    // The recording stopped by itself; message is for the operator.
    void failed(const QString &message);

private:
    void fail(const QString &message);

    QFile m_file;
    QString m_path;
    QString m_error;
    QByteArray m_pending;
    qint64 m_pending_since_ms = 0; // time of the oldest waiting row
    qint64 m_rows = 0;             // written and waiting
    qint64 m_rows_written = 0;
    qint64 m_bytes_written = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
