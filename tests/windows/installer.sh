#!/usr/bin/env bash
# The installer inside scripts/wine-tests, in a prefix of its own beside the run's, with the
# simulator on COM7: a silent install, a silent reinstall over it, a silent removal; between the
# steps installer_test.exe reads back what each left (usage: installer.sh SETUP INSTALLER_TEST).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1
check=$2
dir=$PWD/wine-run/installer
# shellcheck source=../../scripts/lib/wine.sh
source "$root/scripts/lib/wine.sh"
trap qam_wine_cleanup EXIT
export DISPLAY=$QAM_E2E_DISPLAY
qam_wine_prefix_create "$dir/prefix" "$dir/wineserver.log" || exit 1
qam_start_simulator "${QAM_NATIVE_BUILD:-$root/build/native}/tools/module-sim/qam-module-sim" "$dir/sim" 7 || exit 1

status=0
check() {
    qam_wine "$check" --gtest_color=no --gtest_filter="Installer.$1" || status=1
}
# Runs Windows program $1 with the rest as its arguments and says how long it took.
timed() {
    local start=$EPOCHREALTIME
    qam_wine "$@" || status=1
    echo "installer.sh: $(basename "$1") ${*:2}: $(bc <<<"$EPOCHREALTIME - $start") s"
}

check Seed
timed "$setup" /S
check Installed
check FirstStart
timed "$setup" /S
check Installed
start=$EPOCHREALTIME
# The uninstaller hands over to its copy in the temporary folder and returns: the folder, which it
# removes last, says when the removal is done.
qam_wine "C:\\Program Files\\qamupdate\\uninstall.exe" /S || status=1
for ((waited = 0; waited < 600; waited++)); do
    [ -e "$WINEPREFIX/drive_c/Program Files/qamupdate" ] || break
    sleep 0.1
done
echo "installer.sh: uninstall.exe /S: $(bc <<<"$EPOCHREALTIME - $start") s"
check Removed
exit $status
