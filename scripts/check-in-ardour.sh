#!/usr/bin/env bash
# Checks the plug-in's own editor inside a real host: Debian 12's Ardour 7 on a private Xvfb
# display with the Dummy audio backend, driven through XTest (xdotool) and screenshots
# (ImageMagick). Not part of CI: it installs Ardour and takes about a minute.
#
#   scripts/check-in-ardour.sh [PATH/TO/Skorvaline.so]     (default: build/Skorvaline.so)
#
# Screenshots and Ardour's log go to ardour-check/ beside the library. Exit status 0 only
# when every step passed; each step prints PASS or FAIL with what it saw.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
plugin="${1:-$here/build/Skorvaline.so}"
if [ ! -f "$plugin" ]; then
  echo "check-in-ardour: no plug-in at $plugin (build it first: ./test.sh)" >&2
  exit 2
fi
plugin="$(cd "$(dirname "$plugin")" && pwd)/$(basename "$plugin")"
out="$(dirname "$plugin")/ardour-check"
mkdir -p "$out"

# --- packages --------------------------------------------------------------------------------
need=()
for p in ardour xdotool imagemagick xvfb x11-utils python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${need[*]}"
  sudo_=()
  [ "$(id -u)" -eq 0 ] || sudo_=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_[@]}" apt-get update -qq &&
    "${sudo_[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    { echo "check-in-ardour: cannot install ${need[*]}" >&2; exit 2; }
fi

failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

# --- a private world: X display, home folder, plug-in folder ------------------------------------
work="$(mktemp -d /tmp/skv-ardour.XXXXXX)"
xvfb_pid=""
ardour_pid=""
cleanup() {
  [ -n "$ardour_pid" ] && kill "$ardour_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

display_number=91
while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
  display_number=$((display_number + 1))
done
Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display_number"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME/ardour7" "$work/vst"
cp "$plugin" "$work/vst/Skorvaline.so"
# Ardour trusts its scanner's cache only when the cache is strictly newer than the library.
touch -d '1 minute ago' "$work/vst/Skorvaline.so"
export LXVST_PATH="$work/vst"
# .a7 marks Ardour 7 as run before (no first-run wizard); the Dummy backend is hidden unless
# asked for, and the engine state with autostart keeps the Audio/MIDI Setup dialog away.
touch "$XDG_CONFIG_HOME/ardour7/.a7"
cat >"$XDG_CONFIG_HOME/ardour7/config" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="try-autostart-engine" value="1"/>
    <Option name="plugin-path-lxvst" value="$work/vst"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="None (Dummy)" driver="Normal Speed" device="Silence" input-device="" output-device="" sample-rate="48000" buffer-size="1024" n-periods="0" input-latency="0" output-latency="0" lm-input="" lm-output="" active="1" use-buffered-io="0" midi-option="1 in, 1 out, Silence" lru="1">
          <MIDIDevices/>
        </State>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
EOF

# --- the plug-in as Ardour sees it ------------------------------------------------------------
# Ardour lists a VST only from its scanner's cache; scanning here keeps the GUI from asking.
LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst-scanner -f "$work/vst/Skorvaline.so" \
  >"$out/scan.log" 2>&1
cache="$(ls "$XDG_CACHE_HOME"/ardour7/vst/*.v2i 2>/dev/null | head -1)"
unique_id="$(sed -n 's/.*<VST2Info id="\([0-9-]*\)".*has_editor="1".*/\1/p' "${cache:-/dev/null}")"
if [ -n "$unique_id" ]; then
  pass "Ardour's scanner indexed the plug-in (id $unique_id, with editor)"
else
  fail "Ardour's scanner did not index the plug-in with an editor (see $out/scan.log)"
  exit 1
fi

# --- the session: one stereo track holding Skorvaline ------------------------------------------
# Debian's Ardour 7.3 Lua tools cannot instantiate an LXVST by name or id
# (ARDOUR.LuaAPI.new_plugin answers nil although list_plugins shows it), so the track gets a
# stock plug-in as a stand-in and its entry is rewritten into Skorvaline's below.
session="$work/session"
cat >"$work/make-session.lua" <<EOF
AudioEngine:set_backend("None (Dummy)", "", "")
assert(create_session("$session", "check", 48000), "cannot create the session")
local tracks = Session:new_audio_track(2, 2, nil, 1, "Skorvaline",
  ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
local stand_in = ARDOUR.LuaAPI.new_plugin(Session, "urn:ardour:a-delay", ARDOUR.PluginType.LV2, "")
assert(not stand_in:isnil(), "no stand-in plug-in")
for t in tracks:iter() do assert(t:add_processor_by_index(stand_in, 0, nil, true) == 0) end
Session:save_state("", false, false, false, false, false)
close_session()
EOF
ardour7-lua "$work/make-session.lua" >"$out/session.log" 2>&1
python3 - "$session/check.ardour" "$unique_id" <<'EOF' >>"$out/session.log" 2>&1
import re, sys
path, uid = sys.argv[1], sys.argv[2]
text = open(path).read()
route = re.search(r'<Route version="\d+" id="(\d+)" name="Skorvaline"', text).group(1)
text, n = re.subn(r'<Processor id="(\d+)" name="ACE Delay".*?</Processor>',
    r'<Processor id="\1" name="Skorvaline" active="1" user-latency="0" use-user-latency="0" '
    r'type="lxvst" unique-id="' + uid + r'" count="1" custom="0"><lxvst/></Processor>',
    text, count=1, flags=re.S)
proc = re.search(r'<Processor id="(\d+)" name="Skorvaline"', text).group(1)
# The plug-in's own editor (custom-ui) shown at load, below the mixer strip and clocks.
window = ('<Extra><UI><Window name="P-%s-%s" visible="1" x-off="0" y-off="560" x-size="-1" '
          'y-size="-1" custom-ui="1"/></UI></Extra>\n</Session>' % (route, proc))
text = text.replace('</Session>', window)
open(path, 'w').write(text)
print("session ready", n, route, proc)
EOF
if grep -q "session ready 1" "$out/session.log"; then
  pass "session with one stereo track holding Skorvaline (ardour7-lua)"
else
  fail "cannot build the session (see $out/session.log)"
  exit 1
fi

# --- Ardour with the editor shown ------------------------------------------------------------
ardour -n -a "$session/check.ardour" >"$out/ardour.log" 2>&1 &
ardour_pid=$!
find_window() { xdotool search --classname '^Plugin[0-9a-f]{8}$' 2>/dev/null | head -1; }
host_window() { xdotool search --name '^Skorvaline: ' 2>/dev/null | head -1; }
main_window() { xdotool search --name '^check - Ardour' 2>/dev/null | head -1; }
mapped() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
editor=""
for _ in $(seq 120); do
  editor="$(find_window)"
  [ -n "$editor" ] && mapped "$editor" && break
  editor=""
  sleep 0.5
done
if [ -z "$editor" ]; then
  fail "no window of class Plugin%08x appeared within 60 s (see $out/ardour.log)"
  import -window root "$out/ardour-root.png" 2>/dev/null
  exit 1
fi
sleep 2
main="$(main_window)"
host="$(host_window)"
pass "Ardour opened the editor: window $editor ($(xprop -id "$editor" WM_CLASS | cut -d' ' -f3-))"

# Everything outside the two filter-map displays must match exactly; inside them the scan
# position marker moves while the engine runs, so a few columns may differ.
maps_left="217x129+145+35"
maps_right="217x129+145+225"
changed_columns() { # a.png b.png crop -> number of columns with any difference
  convert "$1" -crop "$3" +repage "$work/a.png"
  convert "$2" -crop "$3" +repage "$work/b.png"
  convert "$work/a.png" "$work/b.png" -compose difference -composite -threshold 0 \
    -scale "x1!" -threshold 0 -format '%[fx:round(mean*w)]' info:
}
same_outside_maps() { # a.png b.png -> differing pixels outside the maps
  convert "$1" -fill black -draw "rectangle 145,35 361,163" -draw "rectangle 145,225 361,353" \
    "$work/a.png"
  convert "$2" -fill black -draw "rectangle 145,35 361,163" -draw "rectangle 145,225 361,353" \
    "$work/b.png"
  compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 | cut -d' ' -f1
}
shot() { import -window "$editor" "$out/$1" 2>/dev/null; }

# --- screenshot against the reference render ---------------------------------------------------
shot ardour-editor.png
shooter=""
for t in "$(dirname "$plugin")/tools/skorvaline-editor-shot" "$here/build/tools/skorvaline-editor-shot"; do
  [ -x "$t" ] && shooter="$t" && break
done
if [ -z "$shooter" ]; then
  fail "no skorvaline-editor-shot to render the reference (cmake --build build)"
elif ! "$shooter" "$plugin" "$out/reference-editor.png" >>"$out/scan.log" 2>&1; then
  fail "skorvaline-editor-shot could not render the reference"
else
  outside="$(same_outside_maps "$out/ardour-editor.png" "$out/reference-editor.png")"
  left="$(changed_columns "$out/ardour-editor.png" "$out/reference-editor.png" "$maps_left")"
  right="$(changed_columns "$out/ardour-editor.png" "$out/reference-editor.png" "$maps_right")"
  if [ "$outside" = "0" ] && [ "$left" -le 6 ] && [ "$right" -le 6 ]; then
    pass "screenshot equals the reference render (map columns differing: $left, $right: scan markers)"
  else
    fail "screenshot differs from the reference: $outside pixels outside the maps, map columns $left, $right"
  fi
fi

eval "$(xdotool getwindowgeometry --shell "$editor")"
ex=$X
ey=$Y
save() { # asks Ardour to save and waits for the file to change; false when Ardour does not
  local before
  before="$(stat -c %Y.%s "$session/check.ardour")"
  sleep 1.1
  xdotool key --window "$main" ctrl+s
  for _ in $(seq 40); do
    [ "$(stat -c %Y.%s "$session/check.ardour")" != "$before" ] && sleep 0.5 && return 0
    sleep 0.25
  done
  return 1
}
left_delay() {
  sed -n 's/.*<Controllable name="L Delay"[^>]*value="\([0-9.e-]*\)" parameter="2".*/\1/p' \
    "$session/check.ardour" | head -1
}

# --- drag the left Delay bar ---------------------------------------------------------------
save
before="$(left_delay)"
xdotool mousemove $((ex + 33)) $((ey + 150)) mousedown 1 sleep 0.3 \
  mousemove $((ex + 33)) $((ey + 110)) sleep 0.3 mousemove $((ex + 33)) $((ey + 60)) sleep 0.3 mouseup 1
sleep 1
if save; then
  after="$(left_delay)"
  if python3 -c "import sys; sys.exit(0 if float('$after') > float('$before') + 0.3 else 1)" 2>/dev/null; then
    pass "dragging the left Delay bar up set L Delay $before -> $after in the saved session"
  else
    fail "L Delay in the saved session went $before -> ${after:-?} after the drag"
  fi
else
  fail "Ardour did not save the session (ctrl+s)"
fi
shot ardour-after-drag.png

# --- Process -> Invert in the left menu --------------------------------------------------------
# The menu button of the left panel; the pop-up grabs the keyboard, so arrows walk it:
# third item "Process", into its sub-menu, eighth item "Invert".
xdotool mousemove $((ex + 369)) $((ey + 43)) click 1
sleep 1
import -window root "$out/ardour-menu.png" 2>/dev/null
xdotool key Down Down Down Right
sleep 0.3
xdotool key Down Down Down Down Down Down Down
sleep 0.3
import -window root "$out/ardour-menu-invert.png" 2>/dev/null
xdotool key Return
sleep 1.5
shot ardour-after-invert.png
left="$(changed_columns "$out/ardour-after-drag.png" "$out/ardour-after-invert.png" "$maps_left")"
right="$(changed_columns "$out/ardour-after-drag.png" "$out/ardour-after-invert.png" "$maps_right")"
if [ "$left" -ge 150 ] && [ "$right" -le 6 ]; then
  pass "Process -> Invert changed the left map ($left of 217 columns), not the right ($right)"
else
  fail "Process -> Invert: left map columns changed $left, right $right"
fi

# --- Space over the editor reaches Ardour --------------------------------------------------------
clock() { import -window "$main" -crop 330x30+490+28 +repage "$work/$1" 2>/dev/null; }
xdotool mousemove $((ex + 400)) $((ey + 4))
clock clock0.png
sleep 1
clock clock1.png
xdotool key space
sleep 1.5
clock clock2.png
import -window root "$out/ardour-rolling.png" 2>/dev/null
still="$(compare -metric AE "$work/clock0.png" "$work/clock1.png" null: 2>&1 | cut -d' ' -f1)"
moved="$(compare -metric AE "$work/clock1.png" "$work/clock2.png" null: 2>&1 | cut -d' ' -f1)"
xdotool key space
sleep 1
if [ "$still" = "0" ] && [ "${moved:-0}" -gt 0 ]; then
  pass "Space with the pointer over the editor rolled the transport (clocks changed)"
else
  fail "Space with the pointer over the editor did not roll the transport (clock pixels: $still still, $moved after)"
fi

# --- close and reopen the editor window three times --------------------------------------------
close_window() { # what a window manager's close button sends
  python3 - "$1" <<'EOF'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
ev = ClientMessage(type=33, window=int(sys.argv[1]), format=32)
ev.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
ev.l[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, int(sys.argv[1]), 0, 0, ctypes.byref(ev))
x.XFlush(d)
EOF
}
# Reopening goes through the mixer: a double-click on the plug-in in the track's strip.
# The mixer comes up over the editor's window (no window manager stacks them): raise it again.
xdotool mousemove 700 300 key alt+m
sleep 2
xdotool windowraise "$host"
sleep 0.5
reopened=0
for round in 1 2 3; do
  shot "before-close-$round.png"
  close_window "$host"
  for _ in $(seq 20); do mapped "$host" || break; sleep 0.25; done
  if mapped "$host"; then
    fail "round $round: the editor window did not close"
    break
  fi
  xdotool mousemove 330 215 click --repeat 2 --delay 80 1
  for _ in $(seq 20); do
    editor="$(find_window)"
    [ -n "$editor" ] && mapped "$editor" && break
    sleep 0.25
  done
  sleep 1
  if [ -z "$editor" ] || ! mapped "$editor"; then
    fail "round $round: the editor window did not reopen"
    break
  fi
  shot "ardour-reopened-$round.png"
  outside="$(same_outside_maps "$out/before-close-$round.png" "$out/ardour-reopened-$round.png")"
  if [ "$outside" = "0" ]; then
    reopened=$((reopened + 1))
  else
    fail "round $round: the reopened editor shows $outside different pixels outside the maps"
  fi
  rm -f "$out/before-close-$round.png"
done
[ "$reopened" = 3 ] && pass "closed and reopened the editor three times; it drew the same each time"

# --- Ardour still answering, no X errors --------------------------------------------------------
if kill -0 "$ardour_pid" 2>/dev/null && save; then
  pass "Ardour still answers (saved the session on ctrl+s)"
else
  fail "Ardour no longer answers"
fi
xerrors="$(grep -c -E 'X Error|X Window System error' "$out/ardour.log")"
if [ "$xerrors" = "0" ]; then
  pass "no X Error in Ardour's log"
else
  fail "$xerrors X errors in Ardour's log ($out/ardour.log)"
fi
xdotool key --window "$main" ctrl+q
for _ in $(seq 60); do kill -0 "$ardour_pid" 2>/dev/null || break; sleep 0.25; done
kill -0 "$ardour_pid" 2>/dev/null || ardour_pid=""

echo "Screenshots and logs: $out"
if [ "$failures" -eq 0 ]; then
  echo "check-in-ardour: every step passed"
  exit 0
fi
echo "check-in-ardour: $failures step(s) failed"
exit 1
