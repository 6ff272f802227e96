#pragma once
// "Тренд": the measurements over time, and their log to a CSV file. Every
// complete measurement goes to the store and, while recording, to the file,
// whether the window is shown or not; the plot is redrawn only while shown,
// and only as often as the newest samples move it by a pixel.

#include "csv_recorder.h"
#include "readings.h"
#include "trend_buffer.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class TrendChart;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(QWidget *parent = nullptr);
    ~TrendWindow() override;

    const TrendBuffer &buffer() const { return m_buffer; }
    const CsvRecorder &recorder() const { return m_recorder; }
    CsvRecorder &recorder() { return m_recorder; }
    TrendChart *chart() const { return m_chart; }

    // What "Запись в CSV…" does once a file is chosen, and its stop.
    bool start_recording(const QString &path, const CsvLayout &layout = {});
    void stop_recording();
    // What "Сохранить изображение…" does once a file is chosen; false after
    // telling the operator why not.
    bool save_image(const QString &path);

    // Shows from_ms..to_ms and holds it there until the zoom is reset.
    void zoom_to(qint64 from_ms, qint64 to_ms);
    void reset_zoom();
    bool zoomed() const { return m_zoom.has_value(); }

public slots:
    void add_measurement(const Measurement &m);
    // A parameter value the controller holds: the current limits are drawn,
    // the others are of no interest here. An echo of a write is not yet
    // what the controller holds; its read-back follows.
    void set_threshold(int index, int32_t raw);
    // The limits belonged to the controller the line talked to before.
    void clear_thresholds();
    void par_confirmed(const ParConfirmation &c)
    {
        if (c.read)
            set_threshold(c.index, c.raw);
    }
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *build_series_row();
    QWidget *build_command_row();
    QList<QWidget *> view_commands(QWidget *bar);
    QWidget *build_status_row();
    void toggle_recording();
    void toggle_pause();
    void ask_save_image();
    void redraw_tick();
    qint64 live_span() const;
    void update_record_status();
    void recording_failed(const QString &message);
    QString default_name(const char *suffix) const;

    TrendBuffer m_buffer;
    CsvRecorder m_recorder;
    TrendChart *m_chart;
    QComboBox *m_cmb_window = nullptr;
    QPushButton *m_cmd_pause = nullptr;
    QPushButton *m_cmd_unzoom = nullptr;
    QPushButton *m_cmd_record = nullptr;
    QLabel *m_lbl_record = nullptr;
    QLabel *m_lbl_cursor = nullptr;
    QTimer m_redraw;
    bool m_dirty = false;
    bool m_paused = false;
    std::optional<std::pair<qint64, qint64>> m_zoom;
    qint64 m_drawn_ms = 0; // the newest sample in the last drawing
    Measurement m_last;    // the last one taken, to pass over a reply delivered twice
};
