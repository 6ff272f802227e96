// rzt604-cli's command line on any arguments: each is either refused with a
// reason, answered with help or the version, or taken with every value
// within the bounds the commands rely on.
//
// Input: the arguments after the program's name, each ended by a 0 byte
// (the last one by the end of the input).

#include "cli_args.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what, const QStringList &args)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_cli_args: %s: %s\n", what,
                 qPrintable(args.join(QStringLiteral("\" \"")).left(400)));
    std::abort();
}

void check_taken(const CliArgs &a, const QStringList &args)
{
    check(!a.addresses.isEmpty() && a.address == a.addresses.first(), "no first address", args);
    for (int address : a.addresses)
        check(address >= 1 && address <= 247, "an address outside 1..247", args);
    check(QSet<int>(a.addresses.begin(), a.addresses.end()).size() == a.addresses.size(),
          "an address given twice taken", args);
    check(a.timeout_ms >= 100 && a.timeout_ms <= 3600 * 1000, "a timeout out of range", args);
    check(a.duration_ms >= -1 && a.duration_ms <= 7 * 86400 * 1000, "a duration out of range",
          args);
    check(a.from >= 1 && a.from <= a.to && a.to <= 247, "a scan range out of bounds", args);
    check(!(a.append && a.overwrite), "--append with --overwrite taken", args);
    check(!(a.append || a.overwrite) || !a.csv.isEmpty(), "--append without --csv taken", args);
}

} // namespace

// As in rzt604-cli, where the application exists before the arguments are read.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList args{QStringLiteral("rzt604-cli")};
    if (!input.isEmpty()) {
        for (const QByteArray &a : input.split('\0'))
            args << QString::fromUtf8(a);
    }
    const ParsedArgs r = parse_args_or_error(args);
    check(int(!r.error.isEmpty()) + int(!r.output.isEmpty()) <= 1, "an error and an answer", args);
    if (r.error.isEmpty() && r.output.isEmpty())
        check_taken(r.args, args);
    return 0;
}
