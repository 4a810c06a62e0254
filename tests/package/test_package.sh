#!/usr/bin/env bash
# The Debian package as a user gets it: builds it in build/ (scripts/package), runs the
# validators, unpacks it into a scratch root with dpkg -x, checks that every file the desktop
# entries and the launcher name is where they look for it, lets the launcher's first start
# make the user's folder, and runs the installed "vesk --demo" under Xvfb until the client
# has logged in to the installed demo server. Everything runs from the scratch root; nothing
# is installed on the machine.
set -uo pipefail
cd "$(dirname "$0")/../.."

scratch=$(mktemp -d /tmp/vesk-package-test.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() { echo "package test: FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "package test: ok: $*"; }
die() { echo "package test: FAIL: $*" >&2; exit 1; }

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths=$1; shift
  local i
  for ((i = 0; i < tenths; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

deb=$(bash scripts/package | tail -n 1) || die "scripts/package failed"
[ -f "$deb" ] || die "no package at '$deb'"
case "$(basename "$deb")" in
  vesk_*_"$(dpkg --print-architecture)".deb) pass "built $(basename "$deb")" ;;
  *) fail "package name $(basename "$deb") is not vesk_<version>_<arch>.deb" ;;
esac

# Validators. lintian's errors and warnings fail the test; the informational tags it shows
# with -I are explained in docs/ARCHITECTURE.md ("The Debian package").
lintian_out=$(lintian --suppress-tags running-with-root-privileges "$deb" 2>&1 | grep -v 'running with root privileges')
if printf '%s\n' "$lintian_out" | grep -q '^[EW]:'; then
  fail "lintian:"; printf '%s\n' "$lintian_out" >&2
else
  pass "lintian: no errors or warnings"
fi

root=$scratch/root
dpkg -x "$deb" "$root" || die "dpkg -x failed"

for f in "$root"/usr/share/applications/*.desktop; do
  if desktop-file-validate "$f"; then pass "desktop-file-validate $(basename "$f")"; else fail "desktop-file-validate $(basename "$f")"; fi
done
for f in "$root"/usr/share/metainfo/*.xml; do
  if appstreamcli validate --no-net "$f" >/dev/null; then pass "appstreamcli validate $(basename "$f")"
  else fail "appstreamcli validate $(basename "$f")"; appstreamcli validate --no-net "$f" >&2; fi
done

# What the desktop entries name: the program of Exec in the package's bin folder, and the
# icon in the scalable and fixed sizes of the hicolor theme.
entries=("$root"/usr/share/applications/*.desktop)
[ ${#entries[@]} -eq 2 ] || fail "expected two desktop entries, found ${#entries[@]}"
grep -qx 'Name=Vesk (demo)' "$root"/usr/share/applications/*.desktop || fail "no desktop entry named \"Vesk (demo)\""
for f in "${entries[@]}"; do
  exec_line=$(sed -n 's/^Exec=//p' "$f")
  program=${exec_line%% *}
  [ -x "$root/usr/bin/$program" ] || fail "$(basename "$f"): Exec program $program is not in /usr/bin"
  icon=$(sed -n 's/^Icon=//p' "$f")
  for want in scalable/apps/$icon.svg 48x48/apps/$icon.png 256x256/apps/$icon.png; do
    [ -s "$root/usr/share/icons/hicolor/$want" ] || fail "$(basename "$f"): icon $want missing"
  done
done
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$root"/usr/share/metainfo/*.xml)
[ -f "$root/usr/share/applications/$launchable" ] || fail "metainfo names $launchable, which is not installed"

# What the launcher expects beside it.
for want in usr/bin/vesk usr/bin/vesk-client usr/bin/vesk-demo-server usr/bin/vesk-link-listen; do
  [ -x "$root/$want" ] || fail "$want missing or not executable"
  page=$root/usr/share/man/man1/$(basename "$want").1.gz
  [ -s "$page" ] || fail "no man page for $(basename "$want")"
done
for want in usr/share/vesk/Vesk.ini usr/share/vesk/demo/Vesk.ini usr/share/vesk/demo/settings.conf \
             usr/share/doc/vesk/copyright usr/share/doc/vesk/changelog.gz; do
  [ -s "$root/$want" ] || fail "$want missing"
done
[ $failures -eq 0 ] && pass "installed files are where the desktop entries and the launcher look"

export HOME=$scratch/home
export XDG_CONFIG_HOME=$HOME/.config
mkdir -p "$HOME"
unset XDG_RUNTIME_DIR

# First start: the launcher makes the user's folder, copies the example there and says so;
# the client then runs in it (offscreen: nothing needs drawing here).
QT_QPA_PLATFORM=offscreen "$root/usr/bin/vesk" > "$scratch/first.out" 2> "$scratch/first.err" &
launcher=$!
pids+=("$launcher")
if wait_for 100 test -f "$XDG_CONFIG_HOME/vesk/Vesk.ini" &&
   cmp -s "$XDG_CONFIG_HOME/vesk/Vesk.ini" "$root/usr/share/vesk/Vesk.ini" &&
   wait_for 50 grep -q "$XDG_CONFIG_HOME/vesk/Vesk.ini" "$scratch/first.err"; then
  pass "first start copies the example to $XDG_CONFIG_HOME/vesk and says so"
else
  fail "first start: no example configuration in $XDG_CONFIG_HOME/vesk, or no word of it"; cat "$scratch/first.err" >&2
fi
# The launcher replaced itself with the client, which now runs in the user's folder.
if wait_for 50 test "$(readlink "/proc/$launcher/cwd" 2>/dev/null)" = "$XDG_CONFIG_HOME/vesk"; then
  pass "the client runs in the user's folder"
else
  fail "the client does not run in $XDG_CONFIG_HOME/vesk"
fi
kill "$launcher" 2>/dev/null; wait "$launcher" 2>/dev/null

# The demo under Xvfb, driven as a user would: type a password, press Login.
exec 5> "$scratch/display"
Xvfb -displayfd 5 -screen 0 1920x1080x24 -nolisten tcp > "$scratch/xvfb.log" 2>&1 &
pids+=($!)
exec 5>&-
wait_for 100 test -s "$scratch/display" || die "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$scratch/display")
unset QT_QPA_PLATFORM

"$root/usr/bin/vesk" --demo > "$scratch/demo.out" 2> "$scratch/demo.err" &
demo=$!
pids+=("$demo")
log=$XDG_CONFIG_HOME/vesk-demo/server.log

wait_for 100 grep -q '^listening on 127\.0\.0\.1:' "$log" 2>/dev/null || die "the installed demo server did not start"
find_main() { window=$(xdotool search --name '^Vesk Demo ' 2>/dev/null | head -n 1); [ -n "$window" ]; }
wait_for 150 find_main || die "no main window \"Vesk Demo\" appeared"
logged_in() { grep -q '\["command","login"\],\["username","demo"\]' "$log"; }
# The main window's designed layout: the password field and the Login button of the
# Connection page, measured from the window's top left corner.
for attempt in 1 2 3; do
  xdotool mousemove --window "$window" 205 98 click 1
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 20 demo
  xdotool mousemove --window "$window" 62 132 click 1
  if wait_for 50 logged_in; then break; fi
done
if logged_in && wait_for 50 grep -q '\["command","ping"\]' "$log"; then
  pass "the installed demo client logged in to the installed demo server and pings it (attempt $attempt)"
else
  fail "no login and ping reached the demo server"; tail -n 20 "$log" >&2; cat "$scratch/demo.err" >&2
fi
grep -q '\["command","add_alert_category"\],\["category","tamber"\]' "$log" ||
  fail "the demo client did not subscribe to the demo configuration's categories"
[ -f "$XDG_CONFIG_HOME/vesk-demo/config/Quorvex/Dravin Alerts.conf" ] ||
  fail "the demo has no settings of its own"

# Closing the client ends the demo, and the launcher stops the server with it.
server=$(pgrep -P "$demo" -x vesk-demo-serve || pgrep -P "$demo" -f vesk-demo-server)
client=$(pgrep -P "$demo" -x vesk-client)
[ -n "$client" ] && kill "$client"
if wait_for 50 sh -c "! kill -0 $demo 2>/dev/null" && { [ -z "$server" ] || wait_for 50 sh -c "! kill -0 $server 2>/dev/null"; }; then
  pass "the demo server stops with the client"
else
  fail "the launcher or the demo server kept running after the client ended"
fi

if [ $failures -ne 0 ]; then
  echo "package test: $failures failure(s)"
  exit 1
fi
echo "package test: all passed"
