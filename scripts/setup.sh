# Shared by run.sh and test.sh: installs what the build needs and configures/builds it.
# Sourced, not run.

# What the two programs need to build: all that ./run.sh installs.
CORVANE_RUN_PACKAGES=(
  g++ make cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
)
# And what the tests need: GoogleTest, the JSON and mbox readers (Python's
# mailbox and GNU Mailutils), the package tools and Debian's package checker
# lintian, AppStream's validator, the screenshot's X server; libewf and its
# tools for the carve's E01 images (the build takes libewf where pkg-config
# finds it).
CORVANE_PACKAGES=(
  "${CORVANE_RUN_PACKAGES[@]}"
  libgtest-dev nlohmann-json3-dev
  xvfb xauth imagemagick fonts-dejavu-core dpkg-dev file lintian appstream
  python3 mailutils
  libewf-dev ewf-tools
)

# corvane_install [extra packages...]: the build's and the tests' packages and
# any extra ones a part of the full check needs, installed when missing.
corvane_install() {
  corvane_install_only "${CORVANE_PACKAGES[@]}" "$@"
}

# corvane_install_only packages...: just these, installed when missing.
corvane_install_only() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >/dev/null
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# corvane_configure <build-dir> [extra cmake args...]
corvane_configure() {
  local dir=$1; shift
  cmake -S "$CORVANE_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

# corvane_build <build-dir> [extra cmake args...]: configures and builds all
# (the programs and, unless switched off, the tests).
corvane_build() {
  local dir=$1; shift
  corvane_configure "$dir" "$@"
  cmake --build "$dir" -j "$(nproc)" -- --no-print-directory
}

# corvane_build_programs <build-dir>: configures without the tests and builds
# the two programs only.
corvane_build_programs() {
  local dir=$1; shift
  corvane_configure "$dir" -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF "$@"
  cmake --build "$dir" -j "$(nproc)" --target corvane-dbx corvane-recovery -- --no-print-directory
}
