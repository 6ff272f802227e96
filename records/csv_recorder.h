#pragma once
// Logs measurements to a CSV file (the rows of measurement_csv.h), for the
// trend window and rzt604-cli alike. Rows wait in memory and go to the file
// in one write once the oldest waiting row is flush_ms old, or at the latest
// on the next timer tick, so a crash loses at most that much. A failed write
// stops the recording; the file is cut back to the last whole row, so what
// was written stays readable.

#include "measurement_csv.h"
#include "readings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

// What to do with a file that is already there.
enum class CsvExisting {
    refuse,    // keep it: the recording does not start
    append,    // add rows after its own, when its header is this one
    overwrite, // start it afresh
};

class CsvRecorder : public QObject {
    Q_OBJECT
public:
    explicit CsvRecorder(QObject *parent = nullptr);
    ~CsvRecorder() override;

    void set_layout(const CsvLayout &layout) { m_layout = layout; }
    // 0: every row is written as it comes.
    void set_flush_ms(int ms);

    // Opens the file and writes the header unless appending. On failure
    // returns false and error() says why.
    bool start(const QString &path, CsvExisting existing = CsvExisting::overwrite);
    // Rows to standard output; the same policy, with no file to cut back.
    bool start_stdout();
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
    bool open_existing(const QString &path);
    bool begin(const QByteArray &header);
    // One write of all of bytes; false, with m_write_error saying why, when
    // not all of them went.
    bool write_all(const QByteArray &bytes);
    void fail(const QString &message);

    CsvLayout m_layout;
    int m_flush_ms = 1000;
    QFile m_file;
    QString m_path;
    bool m_is_stdout = false;
    QString m_error;
    QString m_write_error;
    QByteArray m_pending;
    qint64 m_pending_since_ms = 0; // time of the oldest waiting row
    qint64 m_rows = 0;             // written and waiting
    qint64 m_rows_written = 0;
    qint64 m_bytes_written = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
