#!/usr/bin/env bash
# Runs one cross-built Qt Test suite under Wine (CTest's emulator for the
# Windows build), on Qt's offscreen platform, and prints its log. Wine keeps
# QT_* variables away from Windows programs, so cmd sets the platform; and
# with no console attached, Qt Test on Windows writes to the debugger
# instead of stdout, so the log goes to a file.
# Usage: wine_suite.sh SUITE.exe [Qt Test options]
set -uo pipefail
win() { printf 'Z:%s' "${1//\//\\}"; }
log=$(mktemp "${TMPDIR:-/tmp}/suite.XXXXXX")
trap 'rm -f "$log"' EXIT
suite=$(win "$1")
shift
wine cmd /c "set QT_QPA_PLATFORM=offscreen&& $suite $* -o $(win "$log"),txt"
rc=$?
cat "$log"
exit $rc
