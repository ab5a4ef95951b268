#!/usr/bin/env bash
# Runs the Secret Service keychain tests against a private session bus and a throw-away
# GNOME keyring in a temporary HOME. Exit 77 (skipped) when those programs are missing.
# Usage: secret_service_test.sh <test-binary>
set -euo pipefail
test_binary="$1"
command -v dbus-run-session >/dev/null && command -v gnome-keyring-daemon >/dev/null || {
  echo "dbus-run-session or gnome-keyring-daemon missing: skipped"
  exit 77
}
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"
export HOME="$home" XDG_RUNTIME_DIR="$home/run" PERCHWELL_PRIVATE_SECRET_SERVICE=1
unset XDG_DATA_HOME XDG_CONFIG_HOME DBUS_SESSION_BUS_ADDRESS
exec dbus-run-session -- bash -c '
  printf "test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$0"' "$test_binary"
