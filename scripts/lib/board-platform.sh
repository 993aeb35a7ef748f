# shellcheck shell=bash
# Shares variables with scripts/run both ways (root, bin_dir, app_bin_dir, app_runner, log_dir in;
# the pids out):
# shellcheck disable=SC2034,SC2154
# The platform half of the virtual board: fpga-sim (register windows in ROOT/dev/mem, the command
# channel on ROOT/dev/uio1, the I2C chips on ROOT/dev/i2c-0) and the unchanged platform-app on it.
# Sourced by scripts/run, which provides say, setup_failed, wait_for, stop_process, bin_dir,
# root and log_dir.

BOARD_PLATFORM_PROGRAMS=(fpga-sim platform-app)
fpga_pid=""
platform_pid=""
fpga_control=""

# board_platform_start: starts fpga-sim, then platform-app once the model is up.
board_platform_start() {
  fpga_control=$root/run/fpga-sim.control
  # The HDMI transmitter's reset line (sysfs GPIO 906 + 51) as plain files.
  mkdir -p "$root/sys/class/gpio/gpio957" || setup_failed "cannot create $root/sys/class/gpio"
  touch "$root/sys/class/gpio/export" "$root/sys/class/gpio/unexport" \
    "$root/sys/class/gpio/gpio957/direction" "$root/sys/class/gpio/gpio957/value"
  setsid env "VANTOR_ROOT=$root" "$bin_dir/fpga-sim" --control "$fpga_control" \
    </dev/null >"$log_dir/fpga-sim.log" 2>&1 &
  fpga_pid=$!
  wait_for "fpga-sim on $root/dev/mem" 30 "$fpga_pid" \
    test -S "$fpga_control" -a -S "$root/dev/i2c-0" -a -L "$root/dev/uio1"
  setsid env "VANTOR_ROOT=$root" "${app_runner[@]}" "$app_bin_dir/platform-app" </dev/null >"$log_dir/platform-app.log" 2>&1 &
  platform_pid=$!
  wait_for "platform-app bring-up" 30 "$platform_pid" \
    grep -q "Platform Rdy----Done !" "$log_dir/platform-app.log"
  say "fpga-sim (pid $fpga_pid) and platform-app (pid $platform_pid) on $root/dev/mem"
  {
    printf 'BOARD_FPGA_SIM_CONTROL=%q\n' "$fpga_control"
    printf 'BOARD_FPGA_SIM_PID=%q\n' "$fpga_pid"
    printf 'BOARD_PLATFORM_APP_PID=%q\n' "$platform_pid"
  } >>"$root/run/board.env"
}

# board_platform_help: how to send the FPGA's commands.
board_platform_help() {
  echo "FPGA commands to platform-app (log: $log_dir/platform-app.log):"
  echo "  echo 'std 12 12' | socat - UNIX-CONNECT:$fpga_control              # format change: HDMI and SDI 1080p30"
  echo "  echo 'text 2 3 Menu 设置' | socat - UNIX-CONNECT:$fpga_control      # menu text, shown 0.1 s after the last character"
  echo "  echo 'osd-png $root/osd.png' | socat - UNIX-CONNECT:$fpga_control  # the OSD as a picture"
  echo "  (also clear, audio on, color rgb, hpd unplug, input-lock drop, genlock 15, events: fpga-sim --help)"
}

# board_platform_stop: the daemon first (it must not lose its FPGA), then the model.
board_platform_stop() {
  if [ -n "$platform_pid" ]; then
    stop_process "$platform_pid" platform-app TERM 10
    platform_pid=""
  fi
  if [ -n "$fpga_pid" ]; then
    stop_process "$fpga_pid" fpga-sim TERM 10
    fpga_pid=""
  fi
}

# board_platform_ended PID: says which platform program ended early; false for another PID.
board_platform_ended() {
  case "$1" in
    "$platform_pid")
      platform_pid=""
      say "platform-app ended early; the end of its log:"
      tail -n 20 "$log_dir/platform-app.log"
      ;;
    "$fpga_pid")
      fpga_pid=""
      say "fpga-sim ended early; the end of its log:"
      tail -n 20 "$log_dir/fpga-sim.log"
      ;;
    *) return 1 ;;
  esac
}
