# shellcheck shell=bash
# Shares variables with scripts/run (source_dir in; app_bin_dir and app_runner out):
# shellcheck disable=SC2034,SC2154
# The camera's own programs on the virtual board: scripts/run --target zynq takes encoder-app and
# platform-app from the cross build (build/zynq) and runs them under qemu-arm with the armhf
# multiarch loader and libraries, the way the zynq preset runs its tests; the simulators and tools
# stay the host's. Sourced by scripts/run.

# The programs a target build provides; everything else on the board is built for the host.
BOARD_TARGET_PROGRAMS=(encoder-app platform-app)
BOARD_TARGET_TRIPLE=arm-linux-gnueabihf

# Where the camera's programs come from and what runs them (empty: run directly).
app_bin_dir=""
app_runner=()

# board_target_known NAME: true for a target this script can run.
board_target_known() {
  [ "$1" = zynq ] || [ "$1" = zynq-time64 ]
}

# board_target_runner: the emulator command line for the target's programs (also used by tests).
board_target_runner() {
  local qemu
  qemu=$(command -v qemu-arm) || return 1
  app_runner=("$qemu" -L / -E "LD_LIBRARY_PATH=/lib/$BOARD_TARGET_TRIPLE:/usr/lib/$BOARD_TARGET_TRIPLE")
}

# board_target_prepare NAME BUILD_DIR: installs what is missing (scripts/setup NAME), configures and
# builds the target's programs in BUILD_DIR with the preset NAME, and sets app_bin_dir and
# app_runner. Fails with a message on standard error.
board_target_prepare() {
  local name=$1 build=$2
  if ! "$source_dir/scripts/setup" --check "$name" >/dev/null; then
    "$source_dir/scripts/setup" "$name" || return 1
  fi
  if [ ! -f "$build/build.ninja" ]; then
    echo "scripts/run: configuring the $name preset"
    (cd "$source_dir" && cmake --preset "$name" >/dev/null) || return 1
  fi
  echo "scripts/run: building ${BOARD_TARGET_PROGRAMS[*]} ($name preset)"
  (cd "$source_dir" && cmake --build --preset "$name" --target "${BOARD_TARGET_PROGRAMS[@]}") || return 1
  board_target_runner || {
    echo "scripts/run: qemu-arm is missing (scripts/setup $name installs it)" >&2
    return 1
  }
  app_bin_dir=$build/bin
}
