# Shared by the qamtool process tests: a work folder, simulated modules, checks and the closing
# line. Every process started here is ended by its id on the way out.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/qamtool-test-XXXXXX")
pids=()
passed=0
failed=0
export XDG_CONFIG_HOME=$work/config # no registry key, no ports directory of the user's
export XDG_STATE_HOME=$work/state   # the backups of these runs alone

finish() {
    [ ${#pids[@]} -eq 0 ] || { kill -TERM "${pids[@]}"; wait "${pids[@]}"; } 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

# check DESCRIPTION COMMAND...: counts the command's success.
check() {
    if "${@:2}"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1" >&2
    fi
}

# expect WHAT ACTUAL EXPECTED
expect() {
    check "$1: got '$2', expected '$3'" test "$2" = "$3"
}

report() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# A scenario whose module keeps its settings across an update and restarts as a newer firmware.
scenario() {
    printf '%s\n' 'channel0.settings "settings of channel 0"' 'channel1.settings "settings of channel 1"' \
        'channel0.bls "bls0"' 'channel1.bls "bls1"' 'afterReset.dsp "NUV 1.17 A01"' 'restartMs 2000' "$@"
}

# update_file NAME: a three-section update file made by qamfile.
update_file() {
    head -c 3000 /dev/urandom >"$work/f.bin"
    head -c 5000 /dev/urandom >"$work/c.bin"
    head -c 2000 /dev/urandom >"$work/d.bin"
    "$qamfile" build -o "$work/$1" --fpga "$work/f.bin" --appcode "$work/c.bin" --appdata "$work/d.bin" \
        --scramble B,D,P >/dev/null
}
