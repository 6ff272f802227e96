#include "ini_scan.h"

namespace {

// Hands out the lines of a file one after another, with their text with the
// blanks around it removed. A UTF-8 byte order mark on the first line would
// otherwise hide a section header.
class LineCursor {
public:
    explicit LineCursor(QByteArrayView data) : m_data(data) {}

    bool next(IniLine &line, QByteArrayView &content)
    {
        if (m_pos >= m_data.size())
            return false;
        const qsizetype nl = m_data.indexOf('\n', m_pos);
        line.start = m_pos;
        line.text_end = nl < 0 ? m_data.size() : nl;
        line.end = nl < 0 ? m_data.size() : nl + 1;
        if (nl > m_pos && m_data[nl - 1] == '\r')
            --line.text_end;
        content = m_data.sliced(line.start, line.text_end - line.start);
        if (line.start == 0 && content.startsWith("\xEF\xBB\xBF"))
            content = content.sliced(3);
        content = content.trimmed();
        m_pos = line.end;
        return true;
    }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

bool is_section(QByteArrayView c)
{
    return c.startsWith('[') && c.contains(']');
}

QString fold(QByteArrayView raw)
{
    return QString::fromUtf8(raw.trimmed()).toCaseFolded();
}

QString section_name(QByteArrayView c)
{
    return fold(c.sliced(1, c.indexOf(']') - 1));
}

// The position of the '=' of a key line, or -1 for a comment or a line
// without one. A line that starts with '=' is a key line with an empty name.
qsizetype key_line_equals(QByteArrayView c)
{
    return c.startsWith(';') ? -1 : c.indexOf('=');
}

} // namespace

QString ini_name(const QString &name)
{
    return name.trimmed().toCaseFolded();
}

IniIndex ini_index(QByteArrayView data)
{
    IniIndex index;
    // The keys of the section being read; null before the first header and in
    // a section seen before. Only this hash grows until the next header, so
    // the pointer into the outer one stays valid.
    QHash<QString, QByteArray> *keys = nullptr;
    LineCursor lines(data);
    IniLine line;
    QByteArrayView c;
    while (lines.next(line, c)) {
        if (is_section(c)) {
            const QString name = section_name(c);
            keys = index.contains(name) ? nullptr : &index[name];
            continue;
        }
        const qsizetype eq = keys ? key_line_equals(c) : -1;
        if (eq <= 0)
            continue;
        const QString name = fold(c.first(eq));
        if (!keys->contains(name))
            keys->insert(name, c.sliced(eq + 1).trimmed().toByteArray());
    }
    return index;
}

IniPosition ini_locate(QByteArrayView data, const QString &section, const QString &key)
{
    const QString want_section = ini_name(section);
    const QString want_key = ini_name(key);
    IniPosition p;
    LineCursor lines(data);
    IniLine line;
    QByteArrayView c;
    while (lines.next(line, c)) {
        if (!p.header) {
            if (is_section(c) && section_name(c) == want_section)
                p.header = line;
            continue;
        }
        if (is_section(c))
            break;
        const qsizetype eq = key_line_equals(c);
        if (eq < 0)
            continue;
        p.last_key = line;
        if (!p.key && eq > 0 && fold(c.first(eq)) == want_key)
            p.key = line;
    }
    return p;
}
