# Shared by scripts/run, scripts/test, scripts/fuzz and scripts/bench (sourced, not run):
# installs the Debian packages the build needs when any is missing, then configures and builds
# the project into build/ (not when sourced with --install-only). Leaves the caller in the
# project's root folder.

# What building and running the command line needs (VARN_PACKAGE_SET=tool), what the windows and
# the desktop program need besides (VARN_PACKAGE_SET=install builds everything but the tests),
# and what the tests, the fuzz targets and the benchmark need on top (the default, "all").
readonly VARN_TOOL_PACKAGES=(g++ cmake make pkg-config ca-certificates libsqlite3-dev libpq-dev libcli11-dev libfmt-dev)
# Qt's charts need Qt's OpenGL module to be found, which its package only recommends.
readonly VARN_WINDOW_PACKAGES=(qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core)
readonly VARN_TEST_PACKAGES=(
  file python3 valgrind sqlite3 postgresql libgtest-dev libgmock-dev libbenchmark-dev
  # The installed tree's checks: its manual page and its desktop entry.
  man-db desktop-file-utils
  # The fuzz targets: clang 14 cannot compile C++20's <source_location> or ranges with g++ 12's library.
  clang-16 libclang-rt-16-dev
  # The windows on an X server of the tests' own, found and pictured there.
  xvfb xdotool imagemagick
  # The report page drawn by a real browser (its text in the windows' font, fonts-dejavu-core).
  chromium
)
case "${VARN_PACKAGE_SET:-all}" in
  tool) VARN_PACKAGES=("${VARN_TOOL_PACKAGES[@]}") ;;
  install) VARN_PACKAGES=("${VARN_TOOL_PACKAGES[@]}" "${VARN_WINDOW_PACKAGES[@]}") ;;
  *) VARN_PACKAGES=("${VARN_TOOL_PACKAGES[@]}" "${VARN_WINDOW_PACKAGES[@]}" "${VARN_TEST_PACKAGES[@]}") ;;
esac
readonly VARN_PACKAGES

varn_missing_packages() {
  local package
  for package in "${VARN_PACKAGES[@]}"; do
    # A removed package leaves a status line behind, so only "install ok installed" counts.
    if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
      echo "$package"
    fi
  done
}

varn_install_packages() {
  local missing
  mapfile -t missing < <(varn_missing_packages)
  ((${#missing[@]} == 0)) && return 0
  if ((EUID != 0)); then
    echo "missing packages (run as root to install them): ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# VARN_BUILD_TARGETS names the targets to build (all when unset): the tool alone builds in a
# fraction of the time the whole suite takes.
varn_build() {
  local tests=ON
  [[ "${VARN_PACKAGE_SET:-all}" == tool ]] && tests=OFF
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_BUILD_TESTS=$tests
  # shellcheck disable=SC2086
  cmake --build build -j"$(nproc)" ${VARN_BUILD_TARGETS:+--target $VARN_BUILD_TARGETS}
}

cd "$(dirname "${BASH_SOURCE[0]}")/.."
varn_install_packages
[[ "${1:-}" == --install-only ]] || varn_build
