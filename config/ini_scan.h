#pragma once
// The line-level syntax of profile files, scanned in place over the file's
// bytes: a line is a range of offsets, and nothing is copied out of it unless
// it is a section name or a key line that is kept.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>

struct IniLine {
    qsizetype start = 0;    // first byte
    qsizetype text_end = 0; // where "\r\n" or "\n" begins
    qsizetype end = 0;      // after the line end; text_end when there is none
};

// Where a key is, or where it would be added, in one section of a file.
struct IniPosition {
    std::optional<IniLine> header;   // the section's header line
    std::optional<IniLine> key;      // the key's line
    std::optional<IniLine> last_key; // the last key line of the section
};

// Folded section or key name: names match without regard to case or to the
// blanks around them.
QString ini_name(const QString &name);

// Every key of every section, by folded names, with its value (blanks around
// it removed). A section or key that occurs again later is ignored, as a
// reader that stops at the first match would never see it.
using IniIndex = QHash<QString, QHash<QString, QByteArray>>;
IniIndex ini_index(QByteArrayView data);

IniPosition ini_locate(QByteArrayView data, const QString &section, const QString &key);
