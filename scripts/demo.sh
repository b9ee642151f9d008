#!/usr/bin/env bash
# Builds ORVELA Timer and starts it against the local stand-in service, with a running demo
# timer and a demo account. The app gets a home folder of its own under build/demo-home, so the
# demo never touches a real token.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELA_BUILD_TESTS=OFF >/dev/null
ninja -C build/demo orvela-timer orvela-dev-service

port=${ORVELA_DEMO_PORT:-8765}
demo_home=$PWD/build/demo-home
demo_token=orvela_demo_token

build/demo/orvela-dev-service --port "$port" --token "$demo_token" "$@" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
# Wait for the stand-in to listen before the app's first poll.
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

mkdir -p "$demo_home/.config/orvela"
chmod 700 "$demo_home" "$demo_home/.config" "$demo_home/.config/orvela"
( umask 077 && printf '%s\n' "$demo_token" > "$demo_home/.config/orvela/token" )

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No desktop session here (DISPLAY and WAYLAND_DISPLAY are unset): running offscreen." >&2
    export QT_QPA_PLATFORM=offscreen
fi
echo "ORVELA Timer is running against the stand-in service on 127.0.0.1:$port (Ctrl+C quits)."
HOME=$demo_home build/demo/orvela-timer -OrvelaURL "http://127.0.0.1:$port"
