# Sourced by the demo scripts: a Wine prefix under build/ (DEMO_PREFIX names its folder), an X
# display when there is none, and both stopped again when the script ends (stop_wine).
export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/${DEMO_PREFIX:-demo-wineprefix}"
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 150); do
        [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
    done
    Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$display"
    sleep 1
fi
if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "Creating the Wine prefix (once)..."
    # The first program sets the prefix up; "wineboot -i" beside it could start a second
    # service manager. No Mono or Gecko: Wine would otherwise offer to install them.
    WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd.exe /c exit >/dev/null 2>&1 || true
fi
stop_wine() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_wine EXIT
