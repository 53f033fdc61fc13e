# A private X display for the Windows program under Wine. Source it after wine.sh:
#
#   qam_start_xvfb "$dir"      # sets and exports DISPLAY; the server is ended by qam_wine_cleanup
#   qam_screenshot "$file.png" # the whole screen
#
# The server picks a free display number itself (-displayfd), so that runs side by side never meet.

qam_start_xvfb() {
    local dir=$1 waited=0
    mkdir -p "$dir"
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    QAM_XVFB_PID=$!
    qam_track_pid "$QAM_XVFB_PID"
    while [ ! -s "$dir/display" ]; do
        if ! kill -0 "$QAM_XVFB_PID" 2>/dev/null || [ "$waited" -ge 100 ]; then
            echo "display.sh: Xvfb did not start (see $dir/xvfb.log)" >&2
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(tr -d '[:space:]' <"$dir/display")"
    export DISPLAY
}

qam_screenshot() {
    import -window root "$1"
}

# Wine's own TrueType fonts (fonts-wine) in the prefix: Debian's Wine does not find them in
# /usr/share/wine/fonts by itself, and without Marlett the caption buttons show letters.
qam_wine_add_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
    mkdir -p "$fonts"
    for font in /usr/share/wine/fonts/*.ttf; do
        [ -f "$font" ] && ln -sfn "$font" "$fonts/$(basename "$font")"
    done
    return 0
}
