#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus of its own, so that tests never touch (or need)
# the desktop's bus: the tests play the panel and the notification service themselves.
set -euo pipefail
exec dbus-run-session -- "$@"
