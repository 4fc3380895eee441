#!/bin/sh
# Runs a test beside gnome-keyring's Secret Service, unlocked, on a session bus
# of its own (VELMORA_SECRET_SERVICE=1 tells it so); without dbus-run-session
# or gnome-keyring-daemon the test runs alone and skips what needs them. The
# daemon does not always leave with its bus, so it is ended by its own ID.
if ! command -v dbus-run-session >/dev/null || ! command -v gnome-keyring-daemon >/dev/null; then
    exec "$@"
fi
exec dbus-run-session -- sh -c '
    printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exec "$@"
    # The daemon takes the service name a moment after it forks.
    daemon=
    for wait in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
        daemon=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets \
            2>/dev/null | awk "/uint32/ { print \$2 }")
        [ -n "$daemon" ] && break
        sleep 0.1
    done
    [ -n "$daemon" ] || exec "$@"
    VELMORA_SECRET_SERVICE=1 "$@"
    status=$?
    [ -n "$daemon" ] && kill "$daemon"
    exit $status' sh "$@"
