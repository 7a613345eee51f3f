#!/usr/bin/env bash
# Installs what is missing, builds what running needs (into build/, or BUILD_DIR), and runs.
#
# With a display: the configurator, PixkeyMiniConfigurator. When no keypad is attached (none found
# by its USB adapter 067b:2303, and PIXKEY_PORT unset) it runs with --virtual-keypad, a keypad on
# the screen that the program drives over the real wire protocol, and --seed-demo, which puts three
# Vegas reels on the "Global" layout when that layout is still empty. Arguments are passed on.
#
# Without a display: three sample pictures shown with pixkeyctl, on the real keypad when one is
# attached, otherwise on the keypad emulator, whose picture of the three keys is written to a PNG
# file.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$(pwd)/$build" ;; esac
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

keypad_attached() {
  [ -n "${PIXKEY_PORT:-}" ] && return 0
  local tty dev
  for tty in /sys/class/tty/*; do
    dev=$(readlink -f "$tty/device" 2>/dev/null) || continue
    while [ -n "$dev" ] && [ "$dev" != / ]; do
      if [ -f "$dev/idVendor" ]; then
        [ "$(cat "$dev/idVendor")" = 067b ] && [ "$(cat "$dev/idProduct")" = 2303 ] && return 0
        break
      fi
      dev=$(dirname "$dev")
    done
  done
  return 1
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build "$build" --target PixkeyMiniConfigurator Vegas
  program="$build/bin/PixkeyMiniConfigurator"
  if keypad_attached; then
    exec "$program" "$@"
  fi
  echo "No keypad is attached: the configurator runs with a virtual keypad on the screen."
  exec "$program" --virtual-keypad --seed-demo "$@"
fi

cmake --build "$build" --target pixkeyctl pixkey-emulator

ctl="$build/bin/pixkeyctl"
emulator="$build/bin/pixkey-emulator"
samples="$(pwd)/tools/pixkeyctl/samples"
pictures=(1 "$samples/sunrise.png" 2 "$samples/leaf.png" 3 "$samples/wave.png")

echo
echo "No display for the configurator; showing three sample pictures with pixkeyctl."

# A real keypad first. pixkeyctl exits with 2 when it finds none (or cannot use the one it finds;
# it says why on stderr).
status=0
"$ctl" show "${pictures[@]}" --hold 2>"$build/run-keypad.err" || status=$?
if [ "$status" -eq 0 ]; then
  echo "Shown on the keypad${PIXKEY_PORT:+ at $PIXKEY_PORT}: sunrise, leaf and wave on keys 1, 2 and 3."
  exit 0
fi
if [ "$status" -ne 2 ]; then
  cat "$build/run-keypad.err" >&2
  exit "$status"
fi
sed 's/^/  /' "$build/run-keypad.err"
echo "No keypad to use, so the keypad emulator stands in for it."

runtime=${XDG_RUNTIME_DIR:-/tmp}
[ -d "$runtime" ] && [ -w "$runtime" ] || runtime=/tmp
workdir=$(mktemp -d "$runtime/pixkey-run.XXXXXX")
link="$workdir/keypad"
png="$build/pixkey-keys.png"
rm -f "$png"

"$emulator" --link "$link" --png "$png" >"$workdir/emulator.out" 2>&1 &
emulator_pid=$!
cleanup() {
  if kill -0 "$emulator_pid" 2>/dev/null; then
    kill -TERM "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT

for _ in $(seq 1 100); do
  [ -L "$link" ] && break
  if ! kill -0 "$emulator_pid" 2>/dev/null; then
    cat "$workdir/emulator.out" >&2
    echo "The keypad emulator did not start." >&2
    exit 1
  fi
  sleep 0.05
done

"$ctl" --port "$link" show "${pictures[@]}" --hold
# Stopping the emulator writes its final picture of the keys.
kill -TERM "$emulator_pid"
wait "$emulator_pid" || true

echo "Shown on the keypad emulator (a pseudo-terminal at $link, now closed):"
echo "  sunrise, leaf and wave on keys 1, 2 and 3."
echo "Picture of the emulated keypad: $png"
echo "Try it yourself:"
echo "  $emulator --link /tmp/pixkey --png /tmp/pixkey.png &"
echo "  PIXKEY_PORT=/tmp/pixkey $ctl show 2 $samples/leaf.png"
