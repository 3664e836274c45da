# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the desktop checks: the tools a check needs, its failures counted, and the build
# installed where a desktop would read it.

# need_tools TOOL...: a check without one of its tools is skipped (exit code 77, as CTest reports).
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
  done
}

# fail MESSAGE...: a failure is reported and counted, and the check goes on.
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# install_build BUILD_DIR: installs the build into a new temporary prefix, $PREFIX, removed at exit.
install_build() {
  PREFIX=$(mktemp -d)
  trap 'rm -rf "$PREFIX"' EXIT
  cmake --install "$1" --prefix "$PREFIX" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }
}
