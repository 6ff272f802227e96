// The journal of setting changes as the line keeps it: every write's intent
// on disk before the write is queued, its outcome once the model knows it.

#include "line.h"

#include "registers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSysInfo>
#include <QUuid>

namespace {

qint64 now_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString os_user()
{
    for (const char *name : {"USER", "USERNAME", "LOGNAME"}) {
        const QString user = qEnvironmentVariable(name);
        if (!user.isEmpty())
            return user;
    }
    return QDir::home().dirName();
}

// A parameter's value as files write it: the number in engineering units.
QString value_text(int i, int32_t raw)
{
    return QString::number(par_value(i, raw));
}

QString outcome_key(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::taken:
        return QStringLiteral("taken");
    case WriteOutcome::not_taken:
        return QStringLiteral("not_taken");
    case WriteOutcome::refused:
        return QStringLiteral("refused");
    case WriteOutcome::cancelled:
        return QStringLiteral("cancelled");
    case WriteOutcome::no_answer:
        return QStringLiteral("no_answer");
    case WriteOutcome::none:
    case WriteOutcome::awaiting:
        break;
    }
    return {};
}

quint64 journal_key(uint32_t id, int index)
{
    return (quint64(id) << 8) | quint64(index);
}

} // namespace

QString Line::record_intents(ControllerModel &model, uint32_t id, const ParKnown &values)
{
    const QString when = iso_local_time(now_ms(), true);
    const auto versions = model.versions();
    QJsonObject common{
        {QStringLiteral("kind"), QStringLiteral("intent")},
        {QStringLiteral("time"), when},
        {QStringLiteral("user"), os_user()},
        {QStringLiteral("host"), QSysInfo::machineHostName()},
        {QStringLiteral("program"),
         (QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion())
             .trimmed()},
        {QStringLiteral("port"), port_name()},
        {QStringLiteral("device"),
         m_session.device().isEmpty() ? port().device_name(com_port()) : m_session.device()},
        {QStringLiteral("address"), model.address()},
        {QStringLiteral("protocol"), versions ? version_text(versions->first) : QString()},
        {QStringLiteral("software"), versions ? version_text(versions->second) : QString()},
    };
    QStringList recorded;
    QString why;
    for (int i = 0; i < par_count && why.isEmpty(); ++i) {
        if (!values[size_t(i)])
            continue;
        QJsonObject o = common;
        const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        o.insert(QStringLiteral("id"), key);
        o.insert(QStringLiteral("parameter"), QString::fromUtf8(par_id(table(), i)));
        o.insert(QStringLiteral("caption"), par_caption(i));
        if (const auto before = model.held(i)) {
            o.insert(QStringLiteral("before"), value_text(i, *before));
            o.insert(QStringLiteral("before_raw"), *before);
        }
        o.insert(QStringLiteral("written"), value_text(i, *values[size_t(i)]));
        o.insert(QStringLiteral("written_raw"), *values[size_t(i)]);
        why = m_journal.append(o);
        if (why.isEmpty()) {
            recorded << key;
            m_journal_ids.insert(journal_key(id, i), key);
        }
    }
    if (why.isEmpty())
        return {};
    // Intents already on disk end as what they are: never sent.
    for (const QString &key : std::as_const(recorded)) {
        m_journal.append({{QStringLiteral("kind"), QStringLiteral("outcome")},
                          {QStringLiteral("id"), key},
                          {QStringLiteral("time"), iso_local_time(now_ms(), true)},
                          {QStringLiteral("outcome"), QStringLiteral("cancelled")},
                          {QStringLiteral("why"), QStringLiteral("журнал не записан")}});
    }
    why = QStringLiteral("журнал изменений не записан (%1); в контроллер ничего не записано")
              .arg(why);
    emit journal_failed(why);
    return why;
}

void Line::record_outcome(const WriteNote &note)
{
    const QString key = outcome_key(note.outcome);
    if (key.isEmpty())
        return;
    const QString id = m_journal_ids.take(journal_key(note.id, note.index));
    if (id.isEmpty())
        return;
    QJsonObject o{{QStringLiteral("kind"), QStringLiteral("outcome")},
                  {QStringLiteral("id"), id},
                  {QStringLiteral("time"), iso_local_time(note.time_ms, true)},
                  {QStringLiteral("outcome"), key}};
    if (note.kept) {
        o.insert(QStringLiteral("kept"), value_text(note.index, *note.kept));
        o.insert(QStringLiteral("kept_raw"), *note.kept);
    }
    if (note.exception_code >= 0)
        o.insert(QStringLiteral("exception"), note.exception_code);
    if (!note.why.isEmpty())
        o.insert(QStringLiteral("why"), note.why);
    if (const QString why = m_journal.append(o); !why.isEmpty())
        emit journal_failed(QStringLiteral("итог записи «%1» не внесён в журнал: %2")
                                .arg(par_caption(note.index), why));
}
