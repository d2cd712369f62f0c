# Shared by run.sh and test.sh: installs what the build needs and configures/builds it.
# Sourced, not run.

CORVANE_PACKAGES=(
  g++ make cmake pkg-config
  libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  xvfb xauth imagemagick fonts-dejavu-core
)

# corvane_install [extra packages...]: the build's packages and any extra ones
# a part of the full check needs, installed when missing.
corvane_install() {
  local missing=()
  local pkg
  for pkg in "${CORVANE_PACKAGES[@]}" "$@"; do
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

# corvane_build <build-dir> [extra cmake args...]
corvane_build() {
  local dir=$1; shift
  cmake -S "$CORVANE_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" -- --no-print-directory
}
