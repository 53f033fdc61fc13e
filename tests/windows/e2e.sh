#!/bin/sh
# The end-to-end program inside scripts/wine-tests, on the run's display.
DISPLAY=$QAM_E2E_DISPLAY exec "$(dirname "$0")/../../scripts/lib/wine-run" "$1" --gtest_color=no
