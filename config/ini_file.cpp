// A small profile-file reader and writer. The file is handled as raw lines of
// bytes: only the line that holds the key (or the lines added for it) is ever
// produced by us, everything else is copied back exactly as it was read.

#include "config.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <utility>

namespace {

constexpr qsizetype max_value_chars = 254;

struct Line {
    QByteArray text; // without the line end
    QByteArray eol;  // "\r\n", "\n" or empty for a final line without one
};

QList<Line> split_lines(const QByteArray &data)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0) {
            lines.append({data.mid(pos), QByteArray()});
            break;
        }
        qsizetype end = nl;
        if (end > pos && data[end - 1] == '\r')
            --end;
        lines.append({data.mid(pos, end - pos), data.mid(end, nl + 1 - end)});
        pos = nl + 1;
    }
    return lines;
}

// The line's text with blanks around it removed; a UTF-8 byte order mark on
// the first line would otherwise hide a section header.
QByteArray content(const QList<Line> &lines, qsizetype i)
{
    QByteArray t = lines[i].text;
    if (i == 0 && t.startsWith("\xEF\xBB\xBF"))
        t.remove(0, 3);
    return t.trimmed();
}

bool is_section(const QByteArray &c) { return c.startsWith('[') && c.contains(']'); }

bool names_match(const QByteArray &raw, const QString &name)
{
    return QString::fromUtf8(raw.trimmed()).compare(name.trimmed(), Qt::CaseInsensitive) == 0;
}

bool section_is(const QByteArray &c, const QString &section)
{
    return is_section(c) && names_match(c.mid(1, c.indexOf(']') - 1), section);
}

struct Position {
    qsizetype header = -1;    // line of the section header
    qsizetype key = -1;       // line of the key
    qsizetype last_key = -1;  // last key line of the section
};

Position locate(const QList<Line> &lines, const QString &section, const QString &key)
{
    Position p;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray c = content(lines, i);
        if (p.header < 0) {
            if (section_is(c, section))
                p.header = i;
            continue;
        }
        if (is_section(c))
            break;
        const qsizetype eq = c.indexOf('=');
        if (c.startsWith(';') || eq < 0)
            continue;
        p.last_key = i;
        if (p.key < 0 && eq > 0 && names_match(c.left(eq), key))
            p.key = i;
    }
    return p;
}

bool has_write_bit(const QFileInfo &info)
{
    // The saved file is renamed over the old one, which the folder allows even
    // when the file is read-only; and isWritable() alone is always true for root.
    constexpr auto any_write =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isWritable() && (info.permissions() & any_write);
}

} // namespace

QString read_ini_string(const QString &file, const QString &section, const QString &key,
                        const QString &def)
{
    QString result = def;
    QFile f(file);
    if (f.open(QIODevice::ReadOnly)) {
        const QList<Line> lines = split_lines(f.readAll());
        const Position p = locate(lines, section, key);
        if (p.key >= 0) {
            const QByteArray c = content(lines, p.key);
            result = QString::fromUtf8(c.mid(c.indexOf('=') + 1).trimmed());
        }
    }
    if (result.size() > max_value_chars) {
        result.truncate(max_value_chars);
        if (result.back().isHighSurrogate())
            result.chop(1);
    }
    return result;
}

bool write_ini_string(const QString &file, const QString &section, const QString &key,
                      const QString &value)
{
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray v = clean.toUtf8();

    const QFileInfo info(file);
    QByteArray old;
    if (info.exists()) {
        if (!has_write_bit(info))
            return false;
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        old = f.readAll();
    } else if (!has_write_bit(QFileInfo(info.absolutePath()))) {
        return false;
    }

    QList<Line> lines = split_lines(old);
    const QByteArray eol = !lines.isEmpty() && lines.first().eol == "\n" ? "\n" : "\r\n";
    const auto terminate_last = [&](qsizetype i) {
        if (lines[i].eol.isEmpty())
            lines[i].eol = eol;
    };

    const Position p = locate(lines, section, key);
    if (p.key >= 0) {
        // Keep the key as spelled in the file, blanks included; only the value changes.
        Line &l = lines[p.key];
        l.text = l.text.left(l.text.indexOf('=') + 1) + v;
    } else if (p.header >= 0) {
        const qsizetype after = p.last_key >= 0 ? p.last_key : p.header;
        terminate_last(after);
        lines.insert(after + 1, {key.toUtf8() + '=' + v, eol});
    } else {
        if (!lines.isEmpty())
            terminate_last(lines.size() - 1);
        lines.append({'[' + section.toUtf8() + ']', eol});
        lines.append({key.toUtf8() + '=' + v, eol});
    }

    QByteArray data;
    data.reserve(old.size() + v.size() + key.size() + section.size() + 8);
    for (const Line &l : std::as_const(lines))
        data += l.text + l.eol;
    if (info.exists() && data == old)
        return true;

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(data) != data.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
