#!/usr/bin/env bash
# ./dev screenshot: the README's two pictures of the window, taken from the
# real program under Wine on a private virtual display and sound server,
# with a route chosen (seeded in the registry) so that the Main tab shows
# devices in use. Writes docs/main-tab.png and docs/about-tab.png.
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$TF_ROOT/scripts/services.sh"

RUN_DIR="$TF_BUILD/screenshot"
OUT="$TF_ROOT/docs"
# Places in window pixels at scale 1: the About tab (the tab bar sits below
# the 60-pixel title row).
ABOUT_TAB_X=147
ABOUT_TAB_Y=103
# The source chooser's centre line.
SOURCE_Y=308

tf_services_up "$RUN_DIR"
app="$RUN_DIR/app"
rm -rf "$app" && cp -r "$TF_DIST" "$app" && rm -f "$app/log.txt" "$app/imgui.ini"

key='HKCU\SOFTWARE\Wavecaster'
"$TF_WINE" reg add "$key" /v SelectedSource /t REG_SZ /f \
  /d '{"dataFlow":1,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Monitor of Speakers"}' >/dev/null 2>&1
"$TF_WINE" reg add "$key" /v SelectedTargets /t REG_SZ /f \
  /d '[{"eguid":"","eid":"","ff":0,"name":"Headphones"},{"eguid":"","eid":"","ff":0,"name":"HDMI Output"}]' >/dev/null 2>&1
# One target set later than the other and one quieter, as a user lines up
# a slow device; known by name, which a first listing matches.
"$TF_WINE" reg add "$key" /v TargetTuning /t REG_SZ /f \
  /d '[{"delayMs":40,"eguid":"","eid":"","ff":0,"name":"HDMI Output","volume":100},{"delayMs":0,"eguid":"","eid":"","ff":0,"name":"Headphones","volume":80}]' >/dev/null 2>&1
# Tall enough to list every output without scrolling.
"$TF_WINE" reg add "$key" /v WindowHeight /t REG_DWORD /d 840 /f >/dev/null 2>&1

(cd "$app" && exec "$TF_WINE" ./Tonefork.exe >"$RUN_DIR/wine-output.txt" 2>&1) &
tf_record_pid "$RUN_DIR/tonefork.pid" $!
for _ in $(seq 300); do grep -q "Exit icon" "$app/log.txt" 2>/dev/null && break; sleep 0.1; done
info=$("$TF_WINE" "$TF_BUILD/mingw/tfctl.exe" info 30000 2>/dev/null | tr -d '\r')
value() { sed -n "s/.*\b$1=\([-0-9]*\).*/\1/p" <<<"$info"; }
x=$(value x) y=$(value y) w=$(value width) h=$(value height)
[ -n "$x" ] && [ -n "$w" ] || die "the window did not show (see $app/log.txt)"

shoot() {  # $1: file name in docs/
  sleep 1
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$OUT/$1"
  say "wrote docs/$1"
}
click() {  # window pixels; the toolkit wants to see the pointer before the press
  xdotool mousemove $((x + $1)) $((y + $2)); sleep 0.2; xdotool click 1; sleep 0.3
}
# Chosen in the window: the saved choice then carries the endpoint's id.
chosen_in_window() {
  "$TF_WINE" reg query "$key" /v SelectedSource 2>/dev/null |
    grep -q '"eid":"[^"]\+".*"name":"Monitor of Speakers"'
}

# The seeded source is known by its name only, which the chooser does not
# show; choose it in the window as a person would: open the list, step down
# with the keyboard, look at what was chosen.
for _ in $(seq 16); do
  chosen_in_window && break
  click $((w / 2)) $SOURCE_Y
  xdotool key Down; sleep 0.15; xdotool key Return; sleep 0.3
done
# A click on an empty part of the tab puts away the keyboard's focus frame.
click $((w / 2)) $((h - 100))
# Start, and wait until the lights have seen ten quiet seconds: green.
click $((w / 2)) $((h - 30))
sleep 12
mkdir -p "$OUT"
# The pointer rests on the title bar, where it lights nothing up.
xdotool mousemove $((x + w / 2)) $((y + 30))
shoot main-tab.png
click $ABOUT_TAB_X $ABOUT_TAB_Y
xdotool mousemove $((x + w / 2)) $((y + 30))
shoot about-tab.png
"$TF_WINE" "$TF_BUILD/mingw/tfctl.exe" command 1003 >/dev/null 2>&1 || true
for _ in $(seq 150); do tf_recorded_pid "$RUN_DIR/tonefork.pid" >/dev/null || break; sleep 0.1; done
