// journal: the record of setting changes, as a table or as JSON lines,
// oldest first, filtered by time and address.

#include "cli_args.h"
#include "commands.h"
#include "config.h"
#include "journal.h"

#include <QJsonDocument>

#include <cstdio>

int run_journal(const CliArgs &args)
{
    const QString path = journal_path_for(config_path());
    const JournalRead read = read_journal(path);
    for (const QString &problem : read.notes)
        note(QStringLiteral("журнал: ") + problem);
    QList<JournalEntry> shown;
    for (const JournalEntry &e : read.entries) {
        const QDateTime t = journal_time(e);
        if (args.since.isValid() && t < args.since)
            continue;
        if (args.until.isValid() && t > args.until)
            continue;
        if (args.address_given && !args.addresses.contains(journal_address(e)))
            continue;
        shown << e;
    }
    QByteArray out;
    if (args.json) {
        for (const JournalEntry &e : std::as_const(shown))
            out += QJsonDocument(journal_entry_json(e)).toJson(QJsonDocument::Compact) + '\n';
    } else if (!shown.isEmpty()) {
        out = journal_table(shown).toUtf8();
    } else {
        note(read.entries.isEmpty() ? QStringLiteral("журнал %1 пуст").arg(path)
                                    : QStringLiteral("в журнале %1 нет таких записей").arg(path));
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return std::fflush(stdout) == 0 ? exit_ok
                                    : fail(exit_file, QStringLiteral("stdout не записан"));
}
