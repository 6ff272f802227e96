#include "commands.h"

#include <QSet>

#ifndef RZT_PUBLISH
int run_publish(const CliArgs &)
{
    return fail(exit_usage, QStringLiteral("publish: эта сборка без MQTT (нет libmosquitto для "
                                           "Windows); публикуйте с Linux"));
}
#endif

namespace {

struct Command {
    QStringList words;
    int min_args; // words after the command's own
    int max_args;
    QStringList options;
    int (*run)(const CliArgs &);
};

const Command commands[] = {
    {{"read"}, 0, 0, {"json"}, run_read},
    {{"params", "get"}, 0, 1, {}, run_params_get},
    {{"params", "set"}, 1, 1, {"verify"}, run_params_set},
    {{"params", "compare"}, 1, 1, {}, run_params_compare},
    {{"monitor"}, 0, 0, {"csv", "append", "overwrite", "duration", "interval"}, run_monitor},
    {{"scan"}, 0, 0, {"from", "to"}, run_scan},
    {{"journal"}, 0, 0, {"since", "until", "json"}, run_journal},
    {{"publish"},
     0,
     0,
     {"mqtt", "topic", "duration", "interval", "username", "pw", "cafile", "capath", "cert", "key",
      "insecure", "id", "qos", "keepalive"},
     run_publish},
};

const Command *find(const QStringList &words)
{
    for (const Command &c : commands) {
        if (words.mid(0, c.words.size()) == c.words)
            return &c;
    }
    return nullptr;
}

} // namespace

int run_command(const CliArgs &args)
{
    if (args.words.isEmpty())
        usage_error(QStringLiteral("не задана команда"));
    const Command *c = find(args.words);
    if (!c)
        usage_error(QStringLiteral("неизвестная команда «%1»").arg(args.words.join(' ')));
    const QString name = c->words.join(' ');
    const qsizetype extra = args.words.size() - c->words.size();
    if (extra < c->min_args)
        usage_error(QStringLiteral("%1: не задан файл").arg(name));
    if (extra > c->max_args)
        usage_error(QStringLiteral("%1: лишний аргумент «%2»").arg(name, args.words.last()));
    for (const QString &option : args.options) {
        if (!c->options.contains(option))
            usage_error(QStringLiteral("--%1 не относится к команде %2").arg(option, name));
    }
    return c->run(args);
}
