#!/usr/bin/env bash
# The end-to-end program inside scripts/wine-tests, on the run's display; its screenshots become PNGs
# in the Windows build directory for a person to look at.
set -uo pipefail
export DISPLAY=$QAM_E2E_DISPLAY
status=0
"$(dirname "$0")/../../scripts/lib/wine-run" "$1" --gtest_color=no || status=1
for shot in e2e-window e2e-update-download e2e-update-done; do
    if [ -s "$shot.bmp" ] && convert "$shot.bmp" "$shot.png"; then
        rm -f "$shot.bmp"
        echo "e2e: $PWD/$shot.png"
    else
        echo "e2e: no screenshot $shot" >&2
        status=1
    fi
done
exit $status
