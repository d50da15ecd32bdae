#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks it as a
# player's machine would see it, in a throwaway root: the control fields and
# contents, the desktop entry (validated, and its Exec line run with a
# "kessrig://" link the way the desktop runs it), a robot race through the
# installed kessrig-sim link with an empty home, the installed game joining
# the installed kessrig-server from that link (in a virtual X server), a
# malformed link refused with a message, the installed tree left exactly as
# it was installed, and nothing left behind once the package is purged.
#
#   scripts/package-test.sh [BUILD_DIR]     (default: $KESSRIG_BUILD_DIR or build)
#
# The package is installed with dpkg --root (root, or unprivileged with
# --force-not-root where dpkg allows it); where that cannot work it is
# unpacked with dpkg-deb -x instead and the same checks run on that tree.
# The last line is "package_test ok=yes|no ..."; the exit status is 0 only
# when every check passed (2: a tool or the build is missing). Keeps its
# files under $PACKAGE_TEST_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
build=${1:-${KESSRIG_BUILD_DIR:-build}}
[ -f "$build/CPackConfig.cmake" ] || { echo "package-test: no CPackConfig.cmake in '$build' (configure and build first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
for tool in cpack dpkg dpkg-deb desktop-file-validate xvfb-run od; do
    command -v "$tool" >/dev/null ||
        { echo "package-test: '$tool' is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/package-test.XXXXXX)
root=$work/root
pids=()
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    [ -s "$work/game.pid" ] && kill "$(cat "$work/game.pid")" 2>/dev/null
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    if [ -n "${PACKAGE_TEST_KEEP:-}" ]; then
        mkdir -p "$PACKAGE_TEST_KEEP" && cp -r "$work"/. "$PACKAGE_TEST_KEEP"/
    fi
    rm -rf "$work"
}
trap cleanup EXIT
began=$(date +%s)
ok=yes
fail() { ok=no; echo "FAIL: $*"; }
step() { echo "-- $* ($(( $(date +%s) - began ))s)"; }
finish() {
    echo "package_test ok=$ok mode=${mode:-none} seconds=$(( $(date +%s) - began ))"
    [ "$ok" = yes ]
    exit $?
}
# Waits up to $2 seconds for a line matching $3 in file $1.
wait_for_line() {
    local _
    for _ in $(seq 1 $(( $2 * 5 ))); do
        grep -q -- "$3" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}

# ---- the package ------------------------------------------------------------------
step "building the package"
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack failed"
    finish
fi
deb=$(find "$work/pkg" -maxdepth 1 -name 'kessrig_*.deb' | head -n 1)
[ -n "$deb" ] || { cat "$work/cpack.log"; fail "cpack wrote no kessrig_*.deb"; finish; }
echo "package $(basename "$deb") $(( $(stat -c %s "$deb") / 1048576 )) MiB"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kessrig ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = games ] || fail "Section is '$(field Section)', not games"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
for lib in libsdl2 libode libpng zlib1g libnettle libgl1 libstdc++6 libc6; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib"
done

dpkg-deb -c "$deb" | awk '{ print $6, $7, $8 }' | sed -e 's|^\./|/|' -e 's/ *$//' >"$work/contents"
gamedir=/usr/lib/kessrig
for program in kessrig kessrig-sim kessrig-server; do
    grep -qx "/usr/bin/$program -> ../lib/kessrig/$program" "$work/contents" ||
        fail "/usr/bin/$program is not a link to ../lib/kessrig/$program"
    grep -qx "$gamedir/$program" "$work/contents" || fail "$gamedir/$program is missing"
done
for f in "$gamedir/zzzz.saf" "$gamedir/rabbithill/lines_expert" "$gamedir/stadium/terrain.hf" \
         /usr/share/applications/kessrig.desktop /usr/share/icons/hicolor/256x256/apps/kessrig.png; do
    grep -qx "$f" "$work/contents" || fail "the package lacks $f"
done
# Build tools, benchmarks and tests are not for players.
if grep -E '(mkdata|kessrig-icon|terrain_pictures|_bench|_test)$' "$work/contents"; then
    fail "the package ships build tools, benchmarks or tests"
fi

# ---- installing -------------------------------------------------------------------
step "installing into $root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --log="$work/dpkg.log" --force-not-root "$@"; }
if dpkg_root --force-depends -i "$deb" >"$work/dpkg-install.log" 2>&1; then
    mode=dpkg
else
    sed 's/^/  /' "$work/dpkg-install.log"
    echo "dpkg --root could not install here; unpacking with dpkg-deb -x instead"
    rm -rf "$root"
    mkdir -p "$root"
    dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x failed"; finish; }
    mode=extract
fi
for program in kessrig kessrig-sim kessrig-server; do
    if [ ! -L "$root/usr/bin/$program" ] || [ ! -x "$root/usr/bin/$program" ]; then
        fail "$root/usr/bin/$program is not an installed link to a program"
    fi
done
# What was installed, to find any write into it later.
snapshot() { (cd "$root/usr" && find . -printf '%p %y %s %T@ %l\n' | sort); }
snapshot >"$work/tree-installed"

# ---- the desktop entry and the icon -------------------------------------------------
step "desktop entry"
desktop=$root/usr/share/applications/kessrig.desktop
desktop-file-validate "$desktop" >"$work/validate.log" 2>&1 || { cat "$work/validate.log"; fail "desktop-file-validate rejects the entry"; }
[ -s "$work/validate.log" ] && { echo "desktop-file-validate:"; cat "$work/validate.log"; }
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ $exec_line == *%u* ]] || fail "Exec '$exec_line' takes no link (%u)"
grep -qx 'MimeType=x-scheme-handler/kessrig;' "$desktop" || fail "the entry does not handle kessrig: links"
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
icon=$root/usr/share/icons/hicolor/256x256/apps/$icon_name.png
# A PNG whose header says 256 x 256.
header=$(head -c 24 "$icon" 2>/dev/null | od -An -tx1 | tr -d ' \n')
[ "${header:0:16}" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
[ "${header:32:16}" = 0000010000000100 ] || fail "$icon is not 256 x 256"

# ---- a race through the installed link ----------------------------------------------
# No KZ_HOME: the programs must find their data beside themselves, through
# the link. An empty home: nothing from a developer's own folder helps.
unset KZ_HOME VORN_LOGFILE
step "robot race with kessrig-sim"
mkdir -p "$work/race-home"
XDG_DATA_HOME=$work/race-home HOME=$work/race-home timeout 240 "$root/usr/bin/kessrig-sim" race --robots 2 --laps 1 \
    --max-seconds 600 >"$work/race.out" 2>&1
rc=$?
tail -n 3 "$work/race.out"
[ "$rc" = 0 ] || fail "kessrig-sim race exited with $rc"
grep -q '^finished=2 riders=2 ' "$work/race.out" || fail "the robots did not both finish the race"
[ -s "$work/race-home/Kessrig/results.txt" ] || fail "no results.txt in the home folder"

# ---- joining a server from a link -----------------------------------------------------
step "the game joins kessrig-server from a kessrig:// link"
mkdir -p "$work/server-home" "$work/game-home"
XDG_DATA_HOME=$work/server-home HOME=$work/server-home "$root/usr/bin/kessrig-server" --port 0 --upload-dir "" \
    --countdown 30 >"$work/server.log" 2>&1 &
server=$!
pids+=("$server")
port=
if wait_for_line "$work/server.log" 30 '^listening port='; then
    port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$work/server.log")
fi
if [ -z "$port" ]; then
    cat "$work/server.log"
    fail "the installed kessrig-server did not listen"
else
    # The desktop's way: the Exec line with the link in place of %u, the
    # program found on the PATH.
    link="kessrig://127.0.0.1:$port/"
    command_line=${exec_line//%u/$link}
    echo "running: $command_line"
    # shellcheck disable=SC2086,SC2016 # the Exec line is split into words, as the desktop does
    PATH=$root/usr/bin:$PATH XDG_DATA_HOME=$work/game-home HOME=$work/game-home SDL_AUDIODRIVER=dummy \
        timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" \
        sh -c 'echo $$ >"$0"; exec "$@"' "$work/game.pid" $command_line >"$work/game.out" 2>&1 &
    runner=$!
    pids+=("$runner")
    if wait_for_line "$work/server.log" 120 '^join slot='; then
        grep '^join slot=' "$work/server.log"
        # Closed like a window: the game says goodbye to the server and
        # writes its configuration on the way out.
        kill -TERM "$(cat "$work/game.pid")" 2>/dev/null
        wait_for_line "$work/server.log" 30 '^leave slot=.* reason=disconnected' ||
            fail "the game did not say goodbye to the server when closed"
        wait "$runner"
        rc=$?
        [ "$rc" = 0 ] || { tail -n 20 "$work/game.out"; fail "the game ended with $rc when closed"; }
    else
        tail -n 20 "$work/game.out" "$work/server.log"
        fail "the installed game did not join the server from '$link'"
    fi
fi

step "a malformed link"
# Without a display the message goes to standard error.
env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/game-home" HOME="$work/game-home" SDL_AUDIODRIVER=dummy \
    timeout 60 "$root/usr/bin/kessrig" "kessrig://127.0.0.1:99999/" >"$work/bad-link.out" 2>&1
rc=$?
[ "$rc" = 1 ] || fail "a malformed link ended the game with $rc, not 1"
grep -q "Can't join a race from the link \"kessrig://127.0.0.1:99999/\": the port is not a number from 1 to 65535" \
    "$work/bad-link.out" || { cat "$work/bad-link.out"; fail "a malformed link gave no clear message"; }

for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
pids=()

# Everything the programs wrote went to the homes.
snapshot >"$work/tree-after"
if ! diff -u "$work/tree-installed" "$work/tree-after" >"$work/tree.diff"; then
    cat "$work/tree.diff"
    fail "running the installed programs changed the installed tree"
fi
[ -s "$work/game-home/Kessrig/config" ] || fail "the game wrote no config into its home"

# ---- removing -------------------------------------------------------------------------
step "removing"
if [ "$mode" = dpkg ]; then
    dpkg_root --purge kessrig >"$work/dpkg-purge.log" 2>&1 || { cat "$work/dpkg-purge.log"; fail "dpkg --purge failed"; }
    dpkg_root -l kessrig 2>/dev/null | grep -q '^[a-z]i ' && fail "dpkg still lists kessrig as installed"
    # Only dpkg's own database may stay.
    left=$(cd "$root" && find . -mindepth 1 ! -path './var' ! -path './var/lib' ! -path './var/lib/dpkg' \
        ! -path './var/lib/dpkg/*')
    [ -z "$left" ] || { echo "$left"; fail "the purged package left files behind"; }
    compgen -G "$root/var/lib/dpkg/info/kessrig*" >/dev/null && fail "dpkg keeps kessrig's file lists after the purge"
else
    rm -rf "$root"
    [ -e "$root" ] && fail "the unpacked tree could not be removed"
fi
finish
