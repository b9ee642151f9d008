#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus of its own, so that tests never touch (or need)
# the desktop's bus: the tests play the panel and the notification service themselves. The bus
# activates no service (private-session-bus.conf): a desktop's own notification daemon or tray
# installed on the machine would otherwise answer in a fake's place, or hold a test's end for
# the minute an activation is allowed to take.
#
# Sounds go to ALSA's null device: a test must not sound through the machine's speakers, nor
# depend on its audio stack. (Where PipeWire's ALSA plugin is installed, that plugin is loaded,
# leaks and is unloaded again, which LeakSanitizer reports against the test.) libcanberra still
# opens its ALSA driver and plays each event, so the path is the real one up to the device.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export ALSA_CONFIG_PATH="$here/silent-alsa.conf"
exec dbus-run-session --config-file="$here/private-session-bus.conf" -- "$@"
