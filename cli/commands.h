#pragma once
// The commands of rzt604-cli. Each takes the checked command line and
// returns the process's exit code (ExitCode).

#include "cli_args.h"
#include "readings.h"

#include <QJsonObject>

// Finds the command the words name, refuses options that are not its own,
// and runs it.
int run_command(const CliArgs &args);

int run_read(const CliArgs &args);
int run_params_get(const CliArgs &args);
int run_params_set(const CliArgs &args);
int run_params_compare(const CliArgs &args);
int run_monitor(const CliArgs &args);
int run_scan(const CliArgs &args);
int run_publish(const CliArgs &args);
int run_journal(const CliArgs &args);

// A measurement as read --json prints it, keys from the measured-field table.
QJsonObject measurement_json(const Measurement &m);
