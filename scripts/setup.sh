# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by scripts/run, scripts/test and scripts/format: installs what is missing, then configures and builds.
# Sourced, not run; expects REPO to be set.

DIRNOTE_PACKAGES=(
  cmake g++ make pkg-config libsqlite3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils fonts-dejavu-core python3
  desktop-file-utils libxml2-utils shared-mime-info dpkg-dev file
  clang-format-14 ccache lld acl
  lintian appstream bash-completion zsh fish groff-base
)

# Only scripts/fuzz (and the fuzz step of scripts/test) needs these: clang with libFuzzer, and
# llvm-symbolizer for readable crash stacks.
DIRNOTE_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14)

# dn_install_packages [PACKAGE...]: those of the list (default DIRNOTE_PACKAGES) not yet installed.
dn_install_packages() {
  local missing=() pkg wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${DIRNOTE_PACKAGES[@]}")
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# dn_build [CMAKE_OPTION...]: configures and builds $DN_BUILD_DIR (default build/), only the
# targets in DN_BUILD_TARGETS when that is set.
dn_build() {
  local jobs dir=${DN_BUILD_DIR:-$REPO/build} targets=()
  jobs=$(nproc 2>/dev/null || echo 2)
  [ -n "${DN_BUILD_TARGETS:-}" ] && targets=(--target ${DN_BUILD_TARGETS})
  # Objects compiled once are reused by every build folder and clone (ccache, paths relative to
  # the checkout, so two clones share them).
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$REPO} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  cmake -S "$REPO" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" "${targets[@]}"
}
