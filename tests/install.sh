#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it as a desktop and a
# Debian package see it: every file in place (the guides of docs/ among them),
# the desktop entry and AppStream metainfo valid, icons of the size their
# folder says, --version equal to the package's version without a display;
# then runs the installed program from a folder its user may not write,
# against the installed simulator, and checks that it creates and uses
# ~/.config/rzt604-modbus/тп.ini and writes nothing beside itself, and that
# --demo starts the installed simulator and leaves nothing behind.
# Usage: install.sh BUILD_DIR APP_ID WITH_CLI(0|1)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR APP_ID WITH_CLI}
id=${2:?}
with_cli=${3:?}

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    # The program's folder is made read-only below; its files cannot go until
    # it is writable again.
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() {
    command -v "$1" >/dev/null 2>&1 || fail "$1 is not installed (scripts/deps installs $2)"
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

files=(bin/rzt604-modbus bin/rzt604-sim
       "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
       "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/64x64/apps/$id.png"
       share/man/man1/rzt604-modbus.1.gz share/man/man1/rzt604-sim.1.gz
       share/doc/rzt604-modbus/copyright share/doc/rzt604-modbus/changelog.gz)
[ "$with_cli" = 1 ] && files+=(bin/rzt604-cli share/man/man1/rzt604-cli.1.gz
                               lib/systemd/system/rzt604-publish@.service
                               share/doc/rzt604-modbus/examples/publish.conf)
for f in "${files[@]}"; do
    [ -s "$prefix/$f" ] || fail "not installed: $f"
done
# The guides and their pictures as they are in docs/, where F1 finds operator.md.
for doc in "$(dirname "$0")"/../docs/*.md "$(dirname "$0")"/../docs/*.png; do
    [ -e "$doc" ] || continue
    cmp -s "$doc" "$prefix/share/doc/rzt604-modbus/${doc##*/}" || fail "not installed: docs/${doc##*/}"
done

# Outside a UTF-8 locale man formats for ASCII: a character with neither a
# glyph nor a fallback there vanishes from the page with only a warning.
need groff groff-base
for page in "$prefix"/share/man/man1/*.1.gz; do
    out=$(zcat "$page" | LC_ALL=C groff -k -man -Tascii -ww -z 2>&1) || fail "groff: $out"
    [ -z "$out" ] || fail "$(basename "$page") under LC_ALL=C: $out"
done

need desktop-file-validate desktop-file-utils
need appstreamcli appstream
out=$(desktop-file-validate "$prefix/share/applications/$id.desktop" 2>&1) \
    || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" 2>&1) \
    || fail "appstreamcli validate: $out"
grep -q "^Icon=$id\$" "$prefix/share/applications/$id.desktop" || fail "desktop entry names another icon"

# A PNG's width and height are big-endian words at bytes 16 and 20.
for png in "$prefix"/share/icons/hicolor/*x*/apps/"$id".png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    got=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3*256+$4 "x" $7*256+$8 }')
    [ "$got" = "$size" ] || fail "$png is $got"
done

# The package's version is what CPack was configured with.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" \
    || fail "metainfo has no release $version"
zcat "$prefix/share/doc/rzt604-modbus/changelog.gz" | head -n 1 | grep -qF "($version)" \
    || fail "changelog does not start with $version"
# No display at all: --version must not need one.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)
got=$("${nodisplay[@]}" "$prefix/bin/rzt604-modbus" --version 2>&1) || fail "--version: $got"
[ "$got" = "rzt604-modbus $version" ] || fail "rzt604-modbus --version says '$got', package $version"
got=$("${nodisplay[@]}" "$prefix/bin/rzt604-sim" --version 2>&1) || fail "sim --version: $got"
[ "$got" = "rzt604-sim $version" ] || fail "rzt604-sim --version says '$got', package $version"
if [ "$with_cli" = 1 ]; then
    got=$("${nodisplay[@]}" "$prefix/bin/rzt604-cli" --version 2>&1) || fail "cli --version: $got"
    grep -qF "$version" <<<"$got" || fail "rzt604-cli --version says '$got', package $version"
fi

# The service unit as systemd reads it, pointed at the installed program:
# any complaint (a misspelt key, a bad value) fails.
if [ "$with_cli" = 1 ] && command -v systemd-analyze >/dev/null 2>&1; then
    unit=$prefix/lib/systemd/system/rzt604-publish@.service
    grep -q '^ExecStart=rzt604-cli publish \$RZT_ARGS$' "$unit" || fail "$unit: no ExecStart"
    mkdir -p "$work/units"
    sed "s|^ExecStart=rzt604-cli|ExecStart=$prefix/bin/rzt604-cli|" "$unit" \
        >"$work/units/rzt604-publish@check.service"
    out=$(systemd-analyze verify --man=no "$work/units/rzt604-publish@check.service" 2>&1) \
        && [ -z "$out" ] || fail "systemd-analyze verify: $out"
fi

# The installed program as an ordinary user: its folder belongs to someone
# else. root may write anywhere, so under root the run is made as nobody.
home=$work/home
mkdir -p "$home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    need setpriv util-linux
    chmod 755 "$work"
    chown 65534:65534 "$home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
    chmod a-w "$prefix/bin"
fi
# Always started in the background: exec, so that the job's id is the
# program's own and the cleanup's kill reaches it.
run() {
    exec "${as_user[@]}" env HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        QT_QPA_PLATFORM=offscreen "$@"
}
ini=$home/.config/rzt604-modbus/тп.ini
before=$(ls -A "$prefix/bin")
wait_for() { # file pattern; 30 s, for a machine whose cores are busy
    for _ in $(seq 600); do
        grep -qa "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# First start: no file yet. It is created in the user's folder with COM1.
run "$prefix/bin/rzt604-modbus" >"$work/app1.out" 2>&1 &
pids+=($!)
wait_for "$ini" '^MBSLAD=' || fail "$ini not created; program said: $(cat "$work/app1.out")"
grep -qE $'^COM=1\r?$' "$ini" || fail "new $ini: $(cat "$ini")"
kill "${pids[-1]}"

# Second start: COM1 pointed at the installed simulator in that file; the
# simulator hearing requests shows the program read the user's file.
run "$prefix/bin/rzt604-sim" --link "$home/controller" -v >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for "$work/sim.out" '^/' || fail "simulator did not start: $(cat "$work/sim.err")"
printf '[Ports]\nCOM1=%s\n' "$home/controller" >>"$ini"
run "$prefix/bin/rzt604-modbus" >"$work/app2.out" 2>&1 &
pids+=($!)
wait_for "$work/sim.err" ' rx 01 03 ' \
    || fail "the program did not poll the port of the user's file: $(cat "$work/app2.out")"


# --demo: the installed simulator, found beside the program, serves it for
# this run only; neither the user's folders nor the temporary one keep
# anything once the program has ended, and the simulator ends with it.
need pgrep procps
demo=$work/demo
mkdir -p "$demo/tmp" "$demo/run"
chmod 700 "$demo/run"
[ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "$demo"
(exec "${as_user[@]}" env HOME="$demo" XDG_CONFIG_HOME="$demo/.config" \
    XDG_DATA_HOME="$demo/.local/share" XDG_RUNTIME_DIR="$demo/run" TMPDIR="$demo/tmp" \
    QT_QPA_PLATFORM=offscreen "$prefix/bin/rzt604-modbus" --demo) >"$work/demo.out" 2>&1 &
app=$!
pids+=("$app")
sim=
for _ in $(seq 600); do
    sim=$(pgrep -P "$app" -x rzt604-sim) && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.05
done
[ -n "$sim" ] || fail "--demo started no simulator: $(cat "$work/demo.out")"
kill "$app"
wait "$app" || fail "--demo ended with $?: $(cat "$work/demo.out")"
! kill -0 "$sim" 2>/dev/null || fail "--demo left its simulator running"
left=$(cd "$demo" && find . -mindepth 1 ! -path ./tmp ! -path ./run ! -path './run/*')
[ -z "$left" ] || fail "--demo left files behind: $left"

[ "$(ls -A "$prefix/bin")" = "$before" ] || fail "written beside the program: $(ls -A "$prefix/bin")"
echo "PASS: installed $version into a prefix; config in $ini"
