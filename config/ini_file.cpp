// A small profile-file reader and writer. The file is handled as raw lines of
// bytes: only the line that holds the key (or the lines added for it) is ever
// produced by us, everything else is copied back exactly as it was read.

#include "ini_file.h"
#include "config.h"
#include "ini_scan.h"
#include "safe_write.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {

constexpr qsizetype max_value_chars = 254;

// A file changed twice within one tick of the file system's clock keeps its
// size and time (FAT counts in 2 s steps), so a file is only answered from
// memory when it had not been changed for this long when it was read.
constexpr qint64 settled_ms = 3000;

struct CachedFile {
    qint64 size = -1;
    qint64 modified_ms = 0;
    bool settled = false;
    IniIndex index;
};

QMutex cache_mutex;
QHash<QString, CachedFile> cache;
qint64 loads = 0;

// The keys of the file as it is now: from memory when it has not changed,
// otherwise read in one pass. Null when the file cannot be read.
const IniIndex *current_index(const QString &file)
{
    const QFileInfo info(file);
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    const auto it = cache.constFind(file);
    if (it != cache.cend() && it->settled && it->size == info.size() && it->modified_ms == modified)
        return &it->index;

    cache.remove(file);
    // A pipe would keep the reader waiting for ever, a device never end; a
    // file of gigabytes would be read into memory whole.
    if (!info.isFile() || info.size() > ini_max_bytes)
        return nullptr;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    ++loads;
    // It may have grown since it was looked at.
    const QByteArray bytes = f.read(ini_max_bytes + 1);
    if (bytes.size() > ini_max_bytes)
        return nullptr;
    if (cache.size() >= 16)
        cache.clear();
    CachedFile &c = cache[file];
    c.size = info.size();
    c.modified_ms = modified;
    c.settled = QDateTime::currentMSecsSinceEpoch() - modified >= settled_ms;
    c.index = ini_index(bytes);
    return &c.index;
}

void forget(const QString &file)
{
    const QMutexLocker lock(&cache_mutex);
    cache.remove(file);
}

QString capped(QString value)
{
    if (value.size() > max_value_chars) {
        value.truncate(max_value_chars);
        if (value.back().isHighSurrogate())
            value.chop(1);
    }
    return value;
}

bool has_write_bit(const QFileInfo &info)
{
    // The saved file is renamed over the old one, which the folder allows even
    // when the file is read-only; and isWritable() alone is always true for root.
    constexpr auto any_write =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isWritable() && (info.permissions() & any_write);
}

// The file with `key` in `section` set to `v`: the key's line keeps its name
// as spelled, blanks included; a new key goes after the section's last key, a
// new section at the end. Added lines end as the file's first line does.
QByteArray with_key(const QByteArray &old, const QString &section, const QString &key,
                    const QByteArray &v)
{
    const qsizetype first_nl = old.indexOf('\n');
    const bool lf = first_nl == 0 || (first_nl > 0 && old[first_nl - 1] != '\r');
    const QByteArray eol = lf ? "\n" : "\r\n";
    const IniPosition p = ini_locate(old, section, key);
    if (p.key) {
        const qsizetype eq = old.indexOf('=', p.key->start);
        return old.first(eq + 1) + v + old.sliced(p.key->text_end);
    }
    const QByteArray key_line = key.toUtf8() + '=' + v + eol;
    if (p.header) {
        const IniLine after = p.last_key ? *p.last_key : *p.header;
        const QByteArray end_of_after = after.end == after.text_end ? eol : QByteArray();
        return old.first(after.end) + end_of_after + key_line + old.sliced(after.end);
    }
    const QByteArray end_of_last = !old.isEmpty() && !old.endsWith('\n') ? eol : QByteArray();
    return old + end_of_last + '[' + section.toUtf8() + ']' + eol + key_line;
}

} // namespace

qint64 ini_file_loads()
{
    const QMutexLocker lock(&cache_mutex);
    return loads;
}

QString read_ini_string(const QString &file, const QString &section, const QString &key,
                        const QString &def)
{
    const QMutexLocker lock(&cache_mutex);
    const IniIndex *index = current_index(file);
    if (!index)
        return capped(def);
    const auto keys = index->constFind(ini_name(section));
    if (keys == index->cend())
        return capped(def);
    const auto value = keys->constFind(ini_name(key));
    return capped(value == keys->cend() ? def : QString::fromUtf8(*value));
}

bool write_ini_string(const QString &file, const QString &section, const QString &key,
                      const QString &value)
{
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    const QFileInfo info(file);
    QByteArray old;
    if (info.exists()) {
        if (!has_write_bit(info))
            return false;
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        // One byte more than the limit tells a file that grew past it from
        // one that ends there: it would be written back cut short.
        old = f.read(ini_max_bytes + 1);
        if (old.size() > ini_max_bytes)
            return false;
    } else if (!has_write_bit(QFileInfo(info.absolutePath()))) {
        return false;
    }

    const QByteArray data = with_key(old, section, key, clean.toUtf8());
    if (info.exists() && data == old)
        return true;
    const bool written = replace_file(file, data);
    forget(file);
    return written;
}
