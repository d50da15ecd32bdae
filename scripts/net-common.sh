# Sourced by the scripts that run kessrig-server with headless clients on
# loopback (net-race.sh, net-soak.sh, server-soak.sh): the build's
# binaries, a work directory that goes away at exit with every process
# started there (kept under a directory of the caller's choice), the server
# on a free port, clients each in a home of their own, /proc figures and
# the checks every such run makes. Source it from the repository root.

# net_setup NAME KEEP: checks the binaries (exit 2 when one is missing),
# sets bin and work (a fresh directory), pids and the exit trap; the work
# directory is copied to KEEP (when not empty) before it is removed.
net_setup() {
    net_name=$1
    net_keep=$2
    bin=$(cd "${KESSRIG_BUILD_DIR:-build}/bin" && pwd)
    local exe
    for exe in kessrig-server kessrig-sim; do
        [ -x "$bin/$exe" ] || { echo "$net_name: $bin/$exe is missing (build it first)" >&2; exit 2; }
    done
    work=$(mktemp -d "/tmp/$net_name.XXXXXX")
    pids=()
    ok=yes
    trap net_cleanup EXIT
}

net_cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    if [ -n "$net_keep" ]; then
        mkdir -p "$net_keep" && cp -r "$work"/. "$net_keep"/
    fi
    rm -rf "$work"
}

# net_start_server ARGS...: the server on a free port with its log in
# $work/server.log; sets server (its pid) and port. The server's first line
# names the port; one that never comes ends the script with
# "NAME ok=no why=server_did_not_listen".
net_start_server() {
    "$bin/kessrig-server" --port 0 --data "$bin" "$@" >"$work/server.log" 2>&1 &
    server=$!
    pids+=("$server")
    port=
    local _
    for _ in $(seq 1 100); do
        # The server may not have created its log yet.
        port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$work/server.log" 2>/dev/null)
        [ -n "$port" ] && return 0
        sleep 0.2
    done
    cat "$work/server.log" >&2
    echo "${net_name//-/_} ok=no why=server_did_not_listen"
    exit 1
}

# net_client NAME ARGS...: a headless client named NAME joining the server
# from a home of its own ($work/NAME), its output in $work/NAME.out and
# .err, its log in $work/NAME.log; sets client_pid.
net_client() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    XDG_DATA_HOME="$work/$name" KZ_HOME="$bin" VORN_LOGFILE="$work/$name.log" "$bin/kessrig-sim" client \
        --connect "127.0.0.1:$port" --name "$name" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    client_pid=$!
    pids+=("$client_pid")
}

# net_wait_for_start SECONDS: until the server has dropped a gate; false
# when it has not within SECONDS.
net_wait_for_start() {
    local _
    for _ in $(seq 1 $(($1 * 2))); do
        grep -q '^start race=' "$work/server.log" && return 0
        sleep 0.5
    done
    return 1
}

# CPU time (user + system, clock ticks) and resident memory (kB) of a pid.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

fail() {
    ok=no
    echo "FAIL: $*"
}

# The checks of every run once the processes are gone: no error in the
# server's log, no states datagram cut short in any client's.
net_common_checks() {
    grep -E 'error|can.t' "$work/server.log" && fail "the server logged an error"
    local cut
    cut=$(grep -h 'State packet too small' "$work"/*.log 2>/dev/null | head -n 3)
    [ -z "$cut" ] || { echo "$cut"; fail "a states datagram was cut"; }
}
