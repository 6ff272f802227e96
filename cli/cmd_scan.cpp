// scan: the addresses that answer, one a line, with the window's search.

#include "cli_link.h"
#include "commands.h"
#include "scan.h"

#include <cstdio>

int run_scan(const CliArgs &args)
{
    CliLink link;
    if (const int code = link.open(args))
        return code;
    ScanOptions options;
    options.from = args.from;
    options.to = args.to;
    const QList<ScanHit> hits = scan_addresses(link.port(), options, [](int) { return true; });
    for (const ScanHit &hit : hits)
        std::printf("%d\n", hit.address);
    if (hits.isEmpty())
        return fail(exit_no_answer, QStringLiteral("ни один адрес %1..%2 через %3 не ответил")
                                        .arg(args.from)
                                        .arg(args.to)
                                        .arg(link.port_label()));
    return exit_ok;
}
