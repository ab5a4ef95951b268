#!/usr/bin/env bash
# The installed tree and the Debian package, from a built tree: `cmake --install` into a
# temporary prefix runs the application and the hook command from there; `cpack -G DEB`
# builds a package whose extracted tree answers `perchwell hook`.
# Usage: package_test.sh <build-dir> <scratch-dir>
set -euo pipefail
build="$1"
scratch="$2"

work="$(mktemp -d)"
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_RUNTIME_DIR CLAUDE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY \
  WAYLAND_DISPLAY
mkdir -p "$HOME"
event='{"session_id":"s1","hook_event_name":"PreToolUse","tool_name":"Bash","tool_input":{"command":"ls ~/.ssh"},"cwd":"/tmp"}'

tree_files=(bin/perchwell bin/pv-hook-client bin/pv-token lib/perchwell/libperchwell_desktop.so
  share/applications/perchwell.desktop share/icons/hicolor/scalable/apps/perchwell.svg
  lib/systemd/user/perchwell.service)

echo "cmake --install into a temporary prefix"
prefix="$work/prefix with space"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
for f in "${tree_files[@]}"; do
  [ -f "$prefix/$f" ] || fail "the installed tree lacks $f"
done
grep -qxF "ExecStart=\"$prefix/bin/perchwell\" --headless" "$prefix/lib/systemd/user/perchwell.service" ||
  fail "the unit does not start the installed executable: $(grep ExecStart "$prefix/lib/systemd/user/perchwell.service")"
"$prefix/bin/perchwell" hooks install | grep -qF "command: \"$prefix/bin/pv-hook-client\" --exe \"$prefix/bin/perchwell\"" ||
  fail "hooks install from the prefix"
"$prefix/bin/perchwell" --headless >"$work/app.log" 2>&1 &
app_pid=$!
sock="$HOME/.local/share/perchwell/hook.sock"
for _ in $(seq 1 100); do [ -S "$sock" ] && break; kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
[ -S "$sock" ] || { cat "$work/app.log"; fail "the installed application did not open its hook socket"; }
# The installed command, through /bin/sh as Claude Code runs it, answered by the application.
command="$(sed -n 's/.*"command": "\(.*pv-hook-client.*\)",$/\1/p' "$HOME/.claude/settings.json" | head -1 | sed 's/\\"/"/g')"
answer="$(printf '%s' "$event" | /bin/sh -c "$command")"
echo "$answer" | grep -q '"permissionDecision":"ask"' || fail "the installed hook command answered: $answer"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""

echo "cpack -G DEB"
mkdir -p "$scratch"
rm -f "$scratch"/perchwell_*.deb
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$scratch"/perchwell_*.deb)"
contents="$(dpkg-deb --contents "$deb")"
for f in "${tree_files[@]}"; do
  echo "$contents" | grep -q " \./usr/$f$" || fail "the package lacks /usr/$f"
done
depends="$(dpkg-deb -f "$deb" Depends)"
for dep in libc6 libqt6core6 libqt6widgets6; do
  echo "$depends" | grep -q "$dep" || fail "Depends lacks $dep: $depends"
done
root="$work/extracted"
dpkg-deb -x "$deb" "$root"
grep -qxF 'ExecStart="/usr/bin/perchwell" --headless' "$root/usr/lib/systemd/user/perchwell.service" ||
  fail "the packaged unit does not start /usr/bin/perchwell"
answer="$(printf '%s' "$event" | "$root/usr/bin/perchwell" hook)"
echo "$answer" | grep -q '"permissionDecision":"ask"' || fail "the extracted perchwell hook answered: $answer"
echo "package $(basename "$deb"), Depends: $depends"
