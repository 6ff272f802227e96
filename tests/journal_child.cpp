// Appends N records to a journal as fast as it can: one of several programs
// writing the same journal at once.
//   journal_child PATH N TAG
#include "journal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 1;
    Journal journal(args[1]);
    const int n = args[2].toInt();
    // Long enough that a torn append would show in the middle of a line.
    const QString padding(400, u'ж');
    for (int k = 0; k < n; ++k) {
        const QString why = journal.append(
            {{QStringLiteral("kind"), QStringLiteral("intent")},
             {QStringLiteral("id"), args[3] + QString::number(k)},
             {QStringLiteral("time"), QStringLiteral("2026-12-08T10:00:00.000+00:00")},
             {QStringLiteral("address"), 1},
             {QStringLiteral("note"), padding}});
        if (!why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(why));
            return 2;
        }
    }
    return 0;
}
