#pragma once
// Parameter files: the nine settings of one controller as UTF-8 JSON that a
// person can read and edit, and the checks that keep a bad file from ever
// reaching a controller. The raw values are what counts; the shown values
// beside them are for the reader and are ignored when a file is read.

#include "par_table.h"
#include "readings.h"
#include "registers.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <optional>

constexpr int param_file_format = 1;
// A parameter file is about 1 KiB; anything far larger is refused unread.
constexpr qint64 param_file_max_bytes = 1024 * 1024;
// The name written into every file; a file naming another device is refused.
extern const char *const param_file_device; // "RZT-604Д"

using ParRaws = std::array<int32_t, par_count>;

struct ParamFile {
    QDateTime saved;                 // when the values were taken; invalid when not known
    int address = -1;                // slave address they came from, 0..127; -1 when not known
    std::optional<Version> protocol; // as the controller reported them
    std::optional<Version> software;
    ParRaws raws{}; // in table order, each within its parameter's raw range
};

// Either a complete, checked file or the reason it was refused, never both.
struct ParamFileRead {
    std::optional<ParamFile> file;
    QString error;
};

// The reverse of version_text: "2.05" → 2, 5; none for any other form.
std::optional<Version> version_from_text(const QString &text);

QByteArray param_file_json(const ParTable &table, const ParamFile &file);
ParamFileRead read_param_file(const ParTable &table, const QByteArray &json);

// Writes a temporary file beside path and renames it over path, so a failed
// save leaves an older file as it was. Returns the error text, empty on success.
QString save_atomically(const QString &path, const QByteArray &bytes);
QString save_param_file(const QString &path, const ParTable &table, const ParamFile &file);
// Reads and checks a file; "-" is standard input. Anything that is not a
// regular file, or over param_file_max_bytes, is refused before reading.
ParamFileRead load_param_file(const QString &path, const ParTable &table);

struct ParDifference {
    int index = 0; // parameter table index
    int32_t device_raw = 0;
    int32_t file_raw = 0;
};

// The parameters whose raw values differ, in table order.
QList<ParDifference> compare_params(const ParRaws &device, const ParRaws &file);

// "timer_s («Таймер, с»)": how messages name a parameter.
QString par_name(const ParTable &table, int i);
