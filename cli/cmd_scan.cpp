// scan: the addresses that answer, one a line, with the window's search.

#include "cli_line.h"
#include "commands.h"

#include <cstdio>

int run_scan(const CliArgs &args)
{
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    ScanOptions options;
    options.from = args.from;
    options.to = args.to;
    const QList<ScanHit> hits = cli.line().scan(options);
    for (const ScanHit &hit : hits)
        std::printf("%d\n", hit.address);
    if (hits.isEmpty())
        return fail(exit_no_answer, QStringLiteral("ни один адрес %1..%2 через %3 не ответил")
                                        .arg(args.from)
                                        .arg(args.to)
                                        .arg(cli.port_label()));
    return exit_ok;
}
