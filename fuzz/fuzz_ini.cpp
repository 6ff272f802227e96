// The profile-file writer on any file: after one write the value reads back,
// every other key reads as it did before, and the file changed in one place.
//
// Input: section, key and value, each ended by a 0 byte, then the file's
// content as it was. Names outside what the program ever writes (control or
// format characters, Unicode blanks, a key with "=" or starting with ";" or
// "[", a section with "]", blanks only) are skipped.

#include "config.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int max_keys = 8;
const QString absent = QStringLiteral("\x01absent");

void check(bool ok, const char *what, const QString &detail = QString())
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_ini: %s %s\n", what, qPrintable(detail));
    std::abort();
}

QString scratch_path()
{
    const QString dir =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return dir + QStringLiteral("/rzt_fuzz_%1.ini").arg(getpid());
}

bool plain_name(const QString &name)
{
    const QString t = name.trimmed();
    if (t.isEmpty())
        return false;
    // Printable, and no blank but ASCII ones: the reader trims bytes, not
    // Unicode blanks, and a U+FEFF would be taken for a byte order mark.
    for (QChar c : name) {
        if (!c.isPrint() || (c.unicode() > 0x7F && c.isSpace()))
            return false;
    }
    return true;
}

bool same_name(const QString &a, const QString &b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// Line texts without their ends. CRs at a line's end count as part of the
// end: a final line ending in a lone CR, once the writer ends it, ends in CR LF.
QList<QByteArray> line_texts(const QByteArray &data)
{
    QList<QByteArray> lines = data.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines) {
        while (l.endsWith('\r'))
            l.chop(1);
    }
    return lines;
}

struct Key {
    QString section;
    QString key;
    QString before;
};

// Up to max_keys "key=" lines, with the section header above them.
QList<Key> keys_in(const QByteArray &content)
{
    QList<Key> keys;
    QString section;
    for (const QByteArray &line : line_texts(content)) {
        const QByteArray t = line.trimmed();
        if (t.startsWith('[') && t.contains(']')) {
            section = QString::fromUtf8(t.mid(1, t.indexOf(']') - 1));
        } else if (t.indexOf('=') > 0 && !t.startsWith(';') && keys.size() < max_keys) {
            keys.append({section, QString::fromUtf8(t.left(t.indexOf('='))), QString()});
        }
    }
    return keys;
}

// What a write of value must read back as: CR and LF are blanks, the
// outer blanks go, at most 254 characters.
QString expected_value(QString value)
{
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    QString out = QString::fromUtf8(value.toUtf8().trimmed());
    if (out.size() > 254) {
        out.truncate(254);
        if (out.back().isHighSurrogate())
            out.chop(1);
    }
    return out;
}

// The new file is the old one with at most one line replaced and at most two added.
bool changed_in_one_place(const QByteArray &old_data, const QByteArray &new_data)
{
    const QList<QByteArray> a = line_texts(old_data);
    const QList<QByteArray> b = line_texts(new_data);
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    return a.size() - head - tail <= 1 && b.size() - head - tail <= 2;
}

QByteArray read_all(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = scratch_path();
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype e1 = input.indexOf('\0');
    const qsizetype e2 = e1 < 0 ? -1 : input.indexOf('\0', e1 + 1);
    const qsizetype e3 = e2 < 0 ? -1 : input.indexOf('\0', e2 + 1);
    if (e3 < 0)
        return 0;
    const QString section = QString::fromUtf8(input.left(e1));
    const QString key = QString::fromUtf8(input.mid(e1 + 1, e2 - e1 - 1));
    const QString value = QString::fromUtf8(input.mid(e2 + 1, e3 - e2 - 1));
    const QByteArray content = input.mid(e3 + 1);
    if (!plain_name(section) || !plain_name(key) || section.contains(u']') || key.contains(u'=') ||
        key.trimmed().startsWith(u';') || key.trimmed().startsWith(u'['))
        return 0;

    QFile::remove(path);
    {
        QFile f(path);
        check(f.open(QIODevice::WriteOnly) && f.write(content) == content.size(), "scratch file");
    }
    QList<Key> keys = keys_in(content);
    for (Key &k : keys)
        k.before = read_ini_string(path, k.section, k.key, absent);

    check(write_ini_string(path, section, key, value), "write refused");
    check(read_ini_string(path, section, key, absent) == expected_value(value),
          "written value reads back different:", key + QLatin1Char('=') + value);
    for (const Key &k : std::as_const(keys)) {
        if (same_name(k.section, section) && same_name(k.key, key))
            continue;
        check(read_ini_string(path, k.section, k.key, absent) == k.before,
              "another key changed:", k.section + QLatin1Char('/') + k.key);
    }
    check(changed_in_one_place(content, read_all(path)), "the file changed in more than one place");
    return 0;
}
