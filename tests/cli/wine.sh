#!/usr/bin/env bash
# qamtool.exe under Wine against the run's simulator (scripts/wine-tests: COM$QAM_TEST_COM, its
# control port QAM_TEST_SIM_CONTROL): tests/cli/wine.sh QAMTOOL_EXE WINE_RUN
qamtool=$1 winerun=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
qamfile=${QAM_NATIVE_BUILD:-$root/build/native}/tools/qamfile/qamfile
source "$(dirname "$0")/lib.sh"
com=${QAM_TEST_COM:-3}

# control REQUEST: the simulator's answer past its "OK n" line.
control() {
    exec 3<>"/dev/tcp/127.0.0.1/$QAM_TEST_SIM_CONTROL" || return 1
    printf '%s' "$1" >&3
    local status
    read -r status <&3
    case $status in "OK "*) head -c "${status#OK }" <&3 ;; esac
    exec 3<&-
}
restart() {
    local text
    text=$(scenario "$@")$'\n'
    control "RESTART ${#text}"$'\n'"$text"
}
tool() { (cd "$work" && timeout -k 5 180 "$winerun" "$qamtool" "$@" >"$work/out" 2>"$work/err"); echo $?; }

update_file fw.qam
restart
# Wine lists only the serial ports its mount manager found at its start, not the simulator's line.
expect "ports" "$(tool ports --json)" 0
check "ports as JSON Lines" test "$(grep -c '"type":"port"' "$work/out")" = "$(grep -c . "$work/out")"
expect "identify" "$(tool identify --port "$com" --json)" 0
check "its module" grep -q '"type":"module","dsp":"NUV 1.16 A","pld":"PLD 2.03 B","tuner":1' "$work/out"

# The whole update; its record line under LockFileEx with the file's SHA-256 from CNG.
expect "update" "$(tool update fw.qam --port "$com" --record r.jsonl --json)" 0
check "record with the file's SHA-256" grep -q "\"sha256\":\"$(sha256sum <"$work/fw.qam" | cut -c1-64)\".*\"code\":\"0x00000000\"" "$work/r.jsonl"
expect "written once, settings restored" "$(control $'STATE\n' | grep -cE '^(settingsClears 1|resets 1|commits 2)')" 3

# A station of one unit (a process of its own, its events through a pipe) whose block is refused.
restart 'fault kind=RefuseBlock command="UAPP"'
expect "station with a refusal" "$(tool station fw.qam --ports "$com" --json)" 6
check "its result" grep -q "\"port\":\"COM$com\",\"type\":\"result\",\"code\":\"0x81000003\"" "$work/out"

restart
expect "a port twice" "$(tool station fw.qam --ports "$com,$com")" 2
expect "a COM number with no device" "$(tool station fw.qam --ports "$com,9")" 2
expect "a missing file" "$(tool update none.qam --port "$com")" 3
expect "nothing sent" "$(control $'TRACE\n' | grep -c ' > ')" 0
report
