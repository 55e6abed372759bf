# Shared by scripts/run and scripts/test: installs the Debian packages the build
# needs (only those missing) and configures and builds the project.
set -euo pipefail

TARNIC_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARNIC_BUILD=${TARNIC_BUILD:-"$TARNIC_ROOT/build"}

tarnic_packages=(cmake g++ make ninja-build pkg-config qt6-base-dev qt6-svg-dev libdeflate-dev zlib1g-dev libgcrypt20-dev liblzma-dev libgtest-dev
                 libgmock-dev help2man fonts-dejavu-core xvfb xauth openbox xdelta3)
# What the packaging tests and scripts/package use besides.
tarnic_packaging_packages=(desktop-file-utils appstream dpkg-dev file lintian shared-mime-info
                           libglib2.0-bin)

tarnic_install_missing() {
  local missing=()
  for pkg in "${tarnic_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

tarnic_build() {
  cmake -S "$TARNIC_ROOT" -B "$TARNIC_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build "$TARNIC_BUILD" --parallel "$(nproc)"
}
