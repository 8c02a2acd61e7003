# Shared by scripts/test and scripts/demo: install what is missing, configure, build.
# Sourced, not run.

VANTERA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VANTERA_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libsqlite3-dev nettle-dev libfprint-2-dev libglib2.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth imagemagick fonts-dejavu-core
  iproute2 procps python3
  postgresql libpq-dev
)

# Installs the Debian packages that are not installed yet (apt-get update once).
vantera_install_packages() {
  local missing=()
  for p in "${VANTERA_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "== Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# vantera_build DIR [cmake options...]: configure (once) and build the project in DIR.
vantera_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$VANTERA_ROOT" -B "$dir" -G Ninja "$@"
  else
    cmake "$dir" "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)"
}
