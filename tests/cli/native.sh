#!/usr/bin/env bash
# qamtool natively against simulated modules on pseudo-terminals (qam-module-sim), one case per run:
#   tests/cli/native.sh CASE QAMTOOL SIMULATOR QAMFILE FAILING_FSYNC
case_name=$1 qamtool=$2 simulator=$3 qamfile=$4 failing_fsync=$5
source "$(dirname "$0")/lib.sh"

# [at=PORT] module NAME SCENARIO-LINE...: a module on the port $work/PORT/com1 (PORT: NAME unless
# given); its state and trace are written when it ends.
module() {
    local name=$1 port=$work/${at:-$1}/com1
    shift
    mkdir -p "${port%/com1}"
    scenario "$@" >"$work/$name.scenario"
    "$simulator" --scenario "$work/$name.scenario" --link "$port" --state-file "$work/$name.state" \
        --trace-file "$work/$name.trace" >"$work/$name.log" 2>&1 &
    pids+=($!)
    eval "pid_$name=$!"
    # A loaded machine can take seconds to start it; a module that never came fails the case.
    for _ in $(seq 600); do [ -L "$port" ] && return; sleep 0.05; done
    check "module $name started" false
}

# ended NAME: ends the module (which writes its state and trace) by its id.
ended() { local pid=pid_$1 && kill -TERM "${!pid}" && wait "${!pid}"; }

state() { grep -c "^$2\$" "$work/$1.state"; }
# Every command the tool sent, in order.
commands() { awk '$2 == ">" { printf "%s ", $4 }' "$work/$1.trace"; }
result() { grep '"type":"result"' "$1" | grep -o "\"$2\":[^,}]*" | tr '\n' ' '; }

# Everything the tool sent after the reset's reconnection ("VTUN" after "RST0"): the settings written back.
written() { cut -d' ' -f2,4- "$work/$1.trace" | grep '^>' | sed -n '/^> "RST0"/,$p' | tail -n +5; }
# Distinctive settings on both channels of a tuner type 5 (EDU10394) module: on firmware 1.16 its
# bytes 16 and 17 go as the PLP pair.
zeros=$(printf '00%.0s' $(seq 1022))
tuner5=('identification.tuner "EDU10394"' 'afterReset.tuner "EDU10394"' 'channel0.bls hex:B00102'
    'channel0.settings hex:40E2012A0EEE002000042C01EEEE00040701' "channel0.filter hex:05${zeros}80"
    'channel1.settings hex:07000003000000000500030000000C000200' "channel1.filter hex:00${zeros}01")

update_file fw.qam
guard="timeout -k 5 120"

case $case_name in
bad-input)
    # Refused before any module is touched: a clear message and the usage or file status.
    module m
    run() { $guard "$qamtool" "$@" >"$work/out" 2>"$work/err"; echo $?; }
    # refused WHAT STATUS MESSAGE ARGUMENT...
    refused() { expect "$1" "$(run "${@:4}")" "$2" && check "$1: its message" grep -q -- "$3" "$work/err"; }
    fw=$work/fw.qam port=$work/m/com1
    refused "unknown option" 2 "unknown option '--bogus'" update "$fw" --port "$port" --bogus
    refused "missing file" 3 "none.qam: Can Not Open File" update "$work/none.qam" --port "$port"
    printf 'garbage' >"$work/bad.qam"
    expect "file that is no update file" "$(run station "$work/bad.qam" --ports "$port")" 3
    refused "saved settings on a production line" 2 "does not go with --auto" station "$fw" --ports "$port" --auto --use-saved-settings
    refused "garbage in the port list" 2 "'3,x' is no list of ports" station "$fw" --ports "3,x"
    ln -s "$port" "$work/again"
    refused "one device twice" 2 "are the same device" station "$fw" --ports "$port,$work/again"
    expect "unwritable record" "$(run update "$fw" --port "$port" --record "$work/no/such/r.csv")" 3
    echo "other,header" >"$work/other.csv"
    refused "record of another header" 3 "another header" station "$fw" --ports "$port" --record "$work/other.csv"
    expect "help of a command" "$(run update -h)" 0
    check "its text" grep -q "^Usage: qamtool update FILE" "$work/out"
    refused "a prefix of --reset" 2 "unknown option '--res'" defaults --port "$port" --res
    # The list with its blank is taken: what is refused is the interval without --auto.
    refused "--interval without --auto" 2 "interval works only with --auto" station "$fw" --ports "$port, $work/again" --interval 5
    mkdir -p "$work/config/qamupdate/ports" && ln -s "$port" "$work/config/qamupdate/ports/com1"
    refused "a COM number without its link" 2 "port COM9 stands for no device" station "$fw" --ports 1,9
    ended m
    expect "commands sent to the module" "$(commands m)" ""
    ;;
defaults)
    # The factory defaults: "CPRM" always, "RST0" only with --reset; the question's answer follows the flag.
    module m
    $guard "$qamtool" defaults --port "$work/m/com1" --json >"$work/no" 2>&1
    expect "defaults without --reset" "$?" 0
    check "the reset question answered No" grep -q '"caption":"Start New Firmware","answer":"No"' "$work/no"
    $guard "$qamtool" defaults --port "$work/m/com1" --reset >"$work/yes" 2>&1
    expect "defaults with --reset" "$?" 0
    check "its final text" grep -q "All Settings Set To Default!" "$work/yes"
    ended m
    expect "commands" "$(commands m)" '"VDSP" "VPLD" "VTUN" "CPRM" "VDSP" "VPLD" "VTUN" "CPRM" "RST0" '
    ;;
faults)
    # A fixed sample of the fault sweep through update --json, every kind before and after "CPRM",
    # all at once; each unit adds its line to one record. QAM_PROOF_FULL=1 adds more exchanges.
    # NAME: fault|code|exit status|result text (the window's, exactly)
    declare -A fault=(
        [silent]='kind=Silence command="VDSP" occurrence=0|0x81000002|4|no Device found !'
        [short]='kind=ShortReply command="RSTA" bytes=2|0x81000003|5'
        [wrong]='kind=WrongReply command="RBLS" reply="XY\r\n"|0x81000003|5'
        [refused]='kind=RefuseBlock command="RSTA"|0x81000005|5|Unknown Error'
        [lost]='kind=HangUp command="RBLS"|0x81000001|5|Can Not Write To COM'
        [clear]='kind=Silence command="CPRM"|0x81000002|6|No Response'
        [final]='kind=ShortReply command="UPLD" bytes=2 finalReply=1|0x81000003|6'
        [reset]='kind=WrongReply command="RST0" reply="XYZ!"|0x81000003|6'
        [block]='kind=RefuseBlock command="UAPP"|0x81000003|6'
        [cut]='kind=HangUp command="CAPD"|0x81000002|6|No Response'
        [restore]='kind=WrongReply command="ZAll" reply="ER\r\n"|0x81000003|6'
        [accepted]='kind=Silence command="UAPD"|0x00000000|0|Update Successful'
    )
    [ "${QAM_PROOF_FULL:-0}" = 1 ] && fault+=(
        [pld]='kind=Silence command="VPLD" occurrence=0|0x81000002|4'
        [select]='kind=WrongReply command="c000" reply="NO\r\n"|0x81000003|5'
        [erase]='kind=RefuseBlock command="CPLD"|0x81000003|6'
        [quiet]='kind=Silence command="RST0"|0x81000002|6'
        [nuv]='kind=ShortReply command="RST0" bytes=2|0x81000003|6'
        [again]='kind=Silence command="VDSP" occurrence=2|0x81000002|6'
        [bls]='kind=RefuseBlock command="WBLS"|0x81000003|6'
        [commit]='kind=Silence command="ZAll"|0x81000002|6'
    )
    declare -A tool
    for name in "${!fault[@]}"; do
        module "$name" "fault ${fault[$name]%%|*}"
        $guard "$qamtool" update "$work/fw.qam" --port "$work/$name/com1" --record "$work/record.csv" --json \
            >"$work/$name.out" 2>&1 &
        tool[$name]=$!
    done
    for name in "${!fault[@]}"; do
        wait "${tool[$name]}"
        status=$?
        IFS="|" read -r _ code wanted text <<<"${fault[$name]}"
        expect "$name: exit status" "$status" "$wanted"
        expect "$name: result" "$(result "$work/$name.out" code)$(result "$work/$name.out" exit)${text:+$(result "$work/$name.out" text)}" \
            "\"code\":\"$code\" \"exit\":$wanted ${text:+\"text\":\"$text\" }"
    done
    expect "record lines" "$(grep -c '^20' "$work/record.csv")" "${#fault[@]}"
    expect "record header" "$(grep -c '^start,port,' "$work/record.csv")" 1
    ;;
station)
    # Three ports fail in three ways; the other two finish with success and their records.
    module good1
    module good2
    module lost "fault kind=HangUp command=\"UAPP\" bytes=500"
    module silent "fault kind=Silence command=\"VDSP\" occurrence=0"
    module refuses "fault kind=RefuseBlock command=\"UPLD\""
    ports=$work/good1/com1,$work/lost/com1,$work/silent/com1,$work/refuses/com1,$work/good2/com1
    $guard "$qamtool" station "$work/fw.qam" --ports "$ports" --record "$work/r.jsonl" --json >"$work/out" 2>&1
    expect "station: the most severe status" "$?" 6
    for name in good1 good2; do
        check "$name: success" grep -q "\"port\":\"$work/$name/com1\",\"type\":\"result\",\"code\":\"0x00000000\"" "$work/out"
        check "$name: its record" grep -q "\"port\":\"$work/$name/com1\".*\"code\":\"0x00000000\",\"result\":\"Update Successful\",\"settings_restored\":true" "$work/r.jsonl"
        check "$name: sha256" grep -q "\"sha256\":\"$(sha256sum <"$work/fw.qam" | cut -c1-64)\"" "$work/r.jsonl"
        ended "$name"
        expect "$name: written once and restored" "$(state "$name" 'settingsClears 1')$(state "$name" 'commits 2')" 11
    done
    expect "record lines" "$(wc -l <"$work/r.jsonl")" 5
    check "the status names the port given" grep -q "\"text\":\"Device on $work/good1/com1\\\\nDSP" "$work/out"
    check "silent: no module" grep -q "\"port\":\"$work/silent/com1\",\"type\":\"result\",\"code\":\"0x81000002\".*\"exit\":4" "$work/out"
    check "refuses: refused" grep -q "\"port\":\"$work/refuses/com1\",\"type\":\"result\",\"code\":\"0x81000003\".*\"exit\":6" "$work/out"
    ;;
auto)
    # The production line: a unit whose reset answers all 16 bytes and one that restarts slower than
    # the update's own search are each written once, however long they stay silent afterwards. On a
    # station of its own, one after another, all answering as the new firmware does: a unit whose
    # settings are refused after its restart, one more (written: a failed unit makes no other done), and
    # one that answers as that one did after its update (already done); the station ends with the worst.
    module whole 'resetReply "NUVs-sixteen-byt"' 'restartMs 3000'
    module slow 'restartMs 23000'
    mkdir -p "$work/swap"
    stations=()
    for ports in "$work/whole/com1,$work/slow/com1>out" "$work/swap/com1>swap.out"; do
        $guard "$qamtool" station "$work/fw.qam" --ports "${ports%>*}" --auto --interval 1 --record "$work/r.csv" \
            --json >"$work/${ports#*>}" 2>&1 &
        stations+=($!) pids+=($!)
    done
    # seen COUNT TEXT [FILE]: waits until the output holds TEXT COUNT times.
    seen() { for _ in $(seq 600); do [ "$(grep -c -- "$2" "${3:-$work/out}")" -ge "$1" ] && return; sleep 0.1; done; }
    sleep 2
    # Each taken away: the port must be seen empty for the interval before it takes the next.
    at=swap module first 'fault kind=RefuseBlock command="WBLS"' 'identification.dsp "NUV 1.17 A01"'
    seen 1 '"result"' "$work/swap.out" && ended first && seen 1 'the port is empty' "$work/swap.out"
    at=swap module second 'identification.dsp "NUV 1.17 A01"'
    seen 2 '"result"' "$work/swap.out" && ended second && seen 2 'the port is empty' "$work/swap.out"
    at=swap module third 'identification.dsp "NUV 1.17 A01"'
    seen 3 '"result"' "$work/swap.out"
    seen 2 'answers again after its restart'
    kill -INT "${stations[@]}"
    wait "${stations[0]}"
    expect "station after the interrupt: the slow unit's failure" "$?" 6
    wait "${stations[1]}"
    expect "the swapped units' station: the first unit's failure" "$?" 6
    check "the interrupt told" grep -q '"type":"note","text":"interrupt: no new units' "$work/out"
    for name in whole slow third; do ended "$name"; done
    for name in whole slow first second; do
        expect "$name: written once" "$(state "$name" 'settingsClears 1')$(state "$name" 'resets 1')" 11
    done
    expect "third: not written" "$(state third 'settingsClears 0')" 1
    expect "swap: its record lines" "$(grep "$work/swap/com1," "$work/r.csv" | cut -d, -f14,15 | tr '\n' ';')" \
        "0x81000003,Invalid Response [ NUVs ];0x00000000,Update Successful;0x00000000,already done;"
    expect "record lines" "$(grep -c '^20' "$work/r.csv")" 5
    ;;
interrupt)
    # Ctrl+C while a station's unit still reads its module's settings: it stops before writing.
    module m 'fault kind=Delay command="RSTA" occurrence=1 delayMs=3000'
    $guard "$qamtool" station "$work/fw.qam" --ports "$work/m/com1" --record "$work/r.csv" --json >"$work/out" 2>&1 &
    station=$!
    sleep 1
    kill -INT "$station"
    wait "$station"
    expect "station interrupted before writing" "$?" 1
    expect "its result" "$(result "$work/out" text)$(result "$work/out" exit)" '"text":"not started" "exit":1 '
    check "its record line" grep -q ',0x84000001,not started,0,' "$work/r.csv"
    ended m
    expect "settings read, nothing written" "$(commands m | grep -o -e RSTA -e CPRM -e RST0 | sort -u)" RSTA
    ;;
record-lost)
    # Every flush to disk fails: the line is cut back out of the record (begun by a spreadsheet:
    # LF line ends) and goes whole to standard error; the result says the process's status.
    module m 'identification.dsp "NUV 1.16,A01"'
    header=start,port,dsp_before,pld_before,tuner_before,firmware_before,dsp_after,pld_after,tuner_after,firmware_after,file,size,sha256,code,result,settings_restored,seconds
    printf '%s\n' "$header" >"$work/r.csv"
    cp "$work/fw.qam" "$work/fw\\1 \"a,b\".qam"
    LD_PRELOAD=$failing_fsync ASAN_OPTIONS=verify_asan_link_order=0 $guard "$qamtool" update "$work/fw\\1 \"a,b\".qam" \
        --port "$work/m/com1" --record "$work/r.csv" --json >"$work/out" 2>"$work/err"
    expect "record lost" "$?" 3
    expect "its result" "$(result "$work/out" exit)" '"exit":3 '
    expect "the record as it was" "$(cat "$work/r.csv")" "$header"
    check "the line on standard error" grep -q "cannot flush it to disk: .*; the unit's line:" "$work/err"
    check "texts as they are, quoted" grep -q "^20[^,]*,$work/m/com1,\"NUV 1.16,A\",.*,\"$work/fw\\\\1 \"\"a,b\"\".qam\",[0-9]*,[0-9a-f]*,0x00000000,Update Successful,1," "$work/err"
    ended m
    ;;
saved)
    # A download refused after "CPRM"; another port's update, offered no backup of that unit; then the
    # retry with --use-saved-settings: it reads nothing and writes what a successful update writes.
    module m "${tuner5[@]}" 'fault kind=RefuseBlock command="UAPP" occurrence=1'
    printf '%s\r\n' "start,port,dsp_before,pld_before,tuner_before,firmware_before,dsp_after,pld_after,\
tuner_after,firmware_after,file,size,sha256,code,result,settings_restored,seconds" >"$work/old.csv"
    $guard "$qamtool" update "$work/fw.qam" --port "$work/m/com1" --json --record "$work/old.csv" >"$work/failed" 2>&1
    expect "the failed update" "$?" 6
    expect "a record begun without the backup columns keeps them out" "$(tail -n +2 "$work/old.csv" | tr -cd , | wc -c)" 16
    check "its backup pending" grep -q '"backup_pending":true' "$work/failed"
    check "the note names it" grep -q '"text":"the settings were not written back; they are kept in /' "$work/failed"
    module ref "${tuner5[@]}"
    $guard "$qamtool" update "$work/fw.qam" --port "$work/ref/com1" --use-saved-settings --json >"$work/ref.out" 2>&1
    expect "the reference update, offered no other port's backup" "$?$(grep -c "Saved Settings" "$work/ref.out")" 00
    ended ref
    $guard "$qamtool" update "$work/fw.qam" --port "$work/m/com1" --use-saved-settings --json --record "$work/r.csv" >"$work/retry" 2>&1
    expect "the retry" "$?" 0
    check "asked and answered Yes" grep -q '"caption":"Saved Settings","answer":"Yes"' "$work/retry"
    check "the record says it was used" grep -q ',1,0$' <(tr -d '\r' <"$work/r.csv")
    ended m
    expect "reads after the failure" "$(commands m | grep -o '"RSTA"' | wc -l)" 2
    check "written back as the reference" test "$(written m)" = "$(written ref)"
    expect "the backups" "$("$qamtool" backups | cut -d' ' -f1 | tr '\n' ' ')" "settled settled "
    ;;
clone)
    # backup from one module, restore onto another of its tuner; refused onto another tuner and from
    # a damaged file, with nothing sent. H a multiple of ten, Q <= 8, y <= 999: the write keeps all.
    module a 'channel0.settings hex:40E2012A0E00FE1F00040800000000030701' 'channel0.bls hex:B00102' \
        "channel0.filter hex:05${zeros}80" 'channel1.settings hex:07000003000000000500030000000C000200' \
        'identification.tuner "EDU10394"'
    module b 'channel0.settings hex:111111111111111111111111111111111111' 'identification.tuner "EDU10394"' \
        'channel1.settings hex:222222222222222222222222222222222222'
    module c
    $guard "$qamtool" backup --port "$work/a/com1" -o "$work/a.txt" >/dev/null 2>&1
    expect "backup" "$?" 0
    $guard "$qamtool" restore "$work/a.txt" --port "$work/b/com1" >"$work/out" 2>&1
    expect "restore" "$?" 0
    check "the settings it replaced kept" grep -q "before the restore are kept in $work/state/qamupdate/backups/history/" "$work/out"
    $guard "$qamtool" restore "$work/a.txt" --port "$work/c/com1" >/dev/null 2>&1
    expect "restore onto another tuner" "$?" 3
    sed 's/^channel1.bls 4 /channel1.bls 4 X/' "$work/a.txt" >"$work/hex.txt"
    head -c 500 "$work/a.txt" >"$work/cut.txt"
    sed 's/^crc32 ./crc32 0/' "$work/a.txt" >"$work/crc.txt"
    sed '1s/ 1$/ 2/' "$work/a.txt" >"$work/v2.txt"
    for bad in hex:14 cut:18 crc:17 v2:12 none:10; do
        $guard "$qamtool" restore "$work/${bad%:*}.txt" --port "$work/c/com1" >/dev/null 2>&1
        expect "restore from $bad" "$?" "${bad#*:}"
    done
    for name in a b c; do ended $name; done
    expect "b serves a's settings" "$(grep '^channel[01]\.\(settings\|bls\|filter\) ' "$work/b.state")" "$(grep '^channel[01]\.\(settings\|bls\|filter\) ' "$work/a.state")"
    expect "sent to the other tuner's module" "$(commands c)" '"VDSP" "VPLD" "VTUN" '
    ;;
esac
report
