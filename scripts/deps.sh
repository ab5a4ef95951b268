# Sourced by run.sh and test.sh: the Debian 12 packages Perchwell needs, installed only when missing.

PERCHWELL_BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libpcre2-dev libsimdjson-dev nlohmann-json3-dev rapidjson-dev libsqlite3-dev
  qt6-base-dev libx11-dev libsecret-1-dev
  # Gaze tracking for the eye break: the modules it uses and the cascades (about 90 MB to fetch).
  libopencv-imgproc-dev libopencv-objdetect-dev libopencv-videoio-dev opencv-data
  libxdo-dev
  libicu-dev
)

PERCHWELL_TEST_PACKAGES=(
  clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth binutils sqlite3 time
  fonts-dejavu-core xterm xdotool x11-utils trayer openbox
  nodejs
  gnome-keyring dbus-daemon
  # systemd-inhibit, run by the closed-lid tests against a stand-in logind.
  systemd
  tmux
)
# The MCP SDK test installs its client with npm; Debian ships npm apart from nodejs.
command -v npm >/dev/null 2>&1 || PERCHWELL_TEST_PACKAGES+=(npm)
# The package test runs `cpack -G DEB`, which reads the binaries' dependencies with
# dpkg-shlibdeps (dpkg-dev) after finding them with file.
PERCHWELL_TEST_PACKAGES+=(dpkg-dev file)

# Installed by the benchmark scripts that use them, not by the test run (a distribution
# nginx starts a system service where systemd runs).
PERCHWELL_BENCH_PACKAGES=(
  wrk nginx-light
)

perchwell_install_missing() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
