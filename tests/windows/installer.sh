#!/usr/bin/env bash
# installer.sh SETUP INSTALLER_TEST, inside scripts/wine-tests: in a prefix of its own beside the
# run's, with the simulator on COM7, a silent install, reinstall and removal, each read back by a test.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 readback=$2
dir=$(dirname "$setup")/wine-run/installer
source "$root/scripts/lib/wine.sh"
trap qam_wine_cleanup EXIT
export DISPLAY=$QAM_E2E_DISPLAY
qam_wine_prefix_create "$dir/prefix" "$dir/wineserver.log" || exit 1
qam_start_simulator "${QAM_NATIVE_BUILD:-$root/build/native}/tools/module-sim/qam-module-sim" "$dir/sim" 7 || exit 1

status=0
check() { qam_wine "$readback" --gtest_color=no --gtest_filter="Installer.$1" || status=1; }
check Seed
qam_wine "$setup" /S || status=1
check Installed
check FirstStart
qam_wine "$setup" /S || status=1
check Installed
# The uninstaller hands over to a copy of itself and returns; the folder goes last.
qam_wine "C:\\Program Files\\qamupdate\\uninstall.exe" /S || status=1
timeout 60 sh -c 'while [ -e "$1" ]; do sleep 0.1; done' - "$WINEPREFIX/drive_c/Program Files/qamupdate"
check Removed
exit $status
