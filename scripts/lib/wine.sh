# Wine prefix set-up and tear-down for the Windows tests and the demo. Source it from bash:
#
#   source scripts/lib/wine.sh
#   trap qam_wine_cleanup EXIT
#   qam_wine_prefix_create "$build/wine-prefix" "$build/wineserver.log"
#   qam_start_simulator "$native/tools/module-sim/qam-module-sim" "$build/sim" 3   # sets QAM_SIM_CONTROL_PORT
#   qam_wine some-test.exe          # wine with the pseudo-terminal framing shim
#
# Everything a function starts is remembered by process id and ended by qam_wine_cleanup (or
# qam_stop_pids): nothing is ever ended by name.
#
# COM ports are mapped by replacing the comN links in the prefix's dosdevices, not through
# HKLM\Software\Wine\Ports: Wine's mount manager reads that key only when it starts, while the
# simulator re-points its own link to a fresh line after a hang-up; a link can follow that at once.
# With a persistent server the mount manager starts once, before the links are replaced, so the
# host's own serial devices (/dev/ttyS0 as COM1) never come back during the run.

QAM_WINE_PIDS=()
QAM_WINE_PREFIX_DIR=""
QAM_WINE_SERVER_STARTED=0
QAM_WINE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The environment every Wine process of the run shares; QAM_WINEDEBUG names Wine debug channels
# (e.g. +tooltips) when a run must be looked into.
qam_wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG=${QAM_WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
}

# Remembers a process to end at clean-up.
qam_track_pid() {
    QAM_WINE_PIDS+=("$1")
}

# Waits up to $2 seconds (default 10) for process $1 to end; 0 when it ended.
qam_wait_pid() {
    local pid=$1 limit=${2:-10} waited=0
    while kill -0 "$pid" 2>/dev/null; do
        # A child of this shell stays a zombie until waited for; reap it when it is one.
        if [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = "Z" ]; then
            wait "$pid" 2>/dev/null || true
            return 0
        fi
        if [ "$waited" -ge $((limit * 10)) ]; then
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$pid" 2>/dev/null || true
    return 0
}

# Ends every remembered process by its id: TERM first, KILL when it does not go.
qam_stop_pids() {
    local pid
    for pid in "${QAM_WINE_PIDS[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            if ! qam_wait_pid "$pid" 10; then
                kill -KILL "$pid" 2>/dev/null || true
                qam_wait_pid "$pid" 5 || true
            fi
        else
            wait "$pid" 2>/dev/null || true
        fi
    done
    QAM_WINE_PIDS=()
}

# Builds the pseudo-terminal framing shim (tests/windows/shim/pty_framing.c) into $1 and exports
# QAM_WINE_PRELOAD for qam_wine and scripts/lib/wine-run. Only Wine processes get it: a native
# program built with AddressSanitizer refuses to start with a preload.
qam_wine_build_pty_shim() {
    local dir=$1
    mkdir -p "$dir"
    cc -shared -fPIC -O2 -o "$dir/pty_framing.so" "$QAM_WINE_ROOT/tests/windows/shim/pty_framing.c" -ldl || return 1
    export QAM_WINE_PRELOAD="$dir/pty_framing.so"
}

# Runs a Windows program in the prefix, with the shim when there is one.
qam_wine() {
    "$QAM_WINE_ROOT/scripts/lib/wine-run" "$@"
}

# Creates a fresh prefix at $1, starts its persistent server (stderr to $2, where the server's
# object dumps after a line hang-up go, and the first boot's messages), initialises it, removes
# every COM link it made and builds the framing shim inside it. A failed first boot is tried once
# more from nothing: it has been seen to fail once on a machine just restarted, and not again.
qam_wine_prefix_create() {
    local prefix=$1 serverlog=${2:-/dev/null} attempt
    for attempt in 1 2; do
        qam_wine_stop
        rm -rf "$prefix"
        mkdir -p "$prefix"
        QAM_WINE_PREFIX_DIR=$prefix
        qam_wine_env "$prefix"
        qam_wine_build_pty_shim "$prefix/qam-shim" || return 1
        # The server must exist before the first Wine process so that it persists for the whole
        # run and the mount manager, which maps the host's serial devices, runs only this once.
        wineserver -p 2>>"$serverlog" || continue
        QAM_WINE_SERVER_STARTED=1
        echo "wine.sh: first boot of the prefix, attempt $attempt" >>"$serverlog"
        if wine cmd /c exit >>"$serverlog" 2>&1; then
            qam_wine_clear_ports
            return 0
        fi
    done
    return 1
}

# The prefix's dosdevices folder.
qam_wine_dosdevices() {
    printf '%s/dosdevices\n' "$WINEPREFIX"
}

# Removes every comN link of the prefix (the host's /dev/ttyS0 as COM1 among them).
qam_wine_clear_ports() {
    local link
    for link in "$WINEPREFIX"/dosdevices/com[0-9]*; do
        [ -L "$link" ] && rm -f "$link"
    done
    return 0
}

# Maps COM$1 to the device $2 (a pseudo-terminal's terminal side).
qam_wine_map_port() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# Starts the module simulator $1 linked as $3 (a comN path, its ports directory made when missing)
# with its control port on loopback; $2 is a folder for its port file and log. Extra arguments go
# to the simulator. Sets QAM_SIM_CONTROL_PORT and QAM_SIM_PID.
qam_start_simulator_at() {
    local sim=$1 dir=$2 link=$3
    shift 3
    mkdir -p "$dir" "$(dirname "$link")"
    rm -f "$dir/control-port"
    "$sim" --link "$link" --control-port 0 --port-file "$dir/control-port" "$@" >"$dir/simulator.log" 2>&1 &
    QAM_SIM_PID=$!
    qam_track_pid "$QAM_SIM_PID"
    local waited=0
    while [ ! -s "$dir/control-port" ]; do
        if ! kill -0 "$QAM_SIM_PID" 2>/dev/null || [ "$waited" -ge 100 ]; then
            echo "wine.sh: the simulator did not start (see $dir/simulator.log)" >&2
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    # The port file may be written before the link exists; wait for both.
    waited=0
    while [ ! -L "$link" ] && [ "$waited" -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    QAM_SIM_CONTROL_PORT=$(tr -d '[:space:]' <"$dir/control-port")
    export QAM_SIM_CONTROL_PORT
}

# Starts the module simulator $1 for COM$3 of the prefix, as qam_start_simulator_at does.
qam_start_simulator() {
    local sim=$1 dir=$2 com=$3
    shift 3
    qam_start_simulator_at "$sim" "$dir" "$WINEPREFIX/dosdevices/com$com" "$@"
}

# The name of the prefix's server directory: Wine's server-<device>-<inode> of the prefix, in hex.
qam_wine_server_dir_name() {
    local device inode
    device=$(stat -c %D "$1" 2>/dev/null) || return 1
    inode=$(stat -c %i "$1" 2>/dev/null) || return 1
    printf 'server-%x-%x\n' "0x$device" "$inode"
}

# Stops the prefix's server and every Wine process of the prefix with it, then removes the
# server's directory, which this Wine makes as ${TMPDIR:-/tmp}/wine-XXXXXX/server-... and leaves.
qam_wine_stop() {
    if [ "$QAM_WINE_SERVER_STARTED" = 1 ] && [ -n "${WINEPREFIX:-}" ]; then
        local name dir
        name=$(qam_wine_server_dir_name "$WINEPREFIX") || name=""
        wineserver -k 2>/dev/null || true
        timeout 20 wineserver -w 2>/dev/null || true
        QAM_WINE_SERVER_STARTED=0
        if [ -n "$name" ]; then
            for dir in "${TMPDIR:-/tmp}"/wine-*/"$name"; do
                [ -d "$dir" ] || continue
                rm -rf "$dir"
                rmdir "$(dirname "$dir")" 2>/dev/null || true
            done
        fi
    fi
}

# Everything, in order: our processes, the server, the prefix. Safe to call more than once.
qam_wine_cleanup() {
    qam_stop_pids
    qam_wine_stop
    if [ -n "$QAM_WINE_PREFIX_DIR" ]; then
        rm -rf "$QAM_WINE_PREFIX_DIR"
        QAM_WINE_PREFIX_DIR=""
    fi
}
