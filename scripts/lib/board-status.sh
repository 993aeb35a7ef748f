# shellcheck shell=bash
# Shares variables with scripts/run (bin_dir, root, log_dir, the sockets, studio_ns, address in;
# the pids out):
# shellcheck disable=SC2034,SC2154
# The status screen of scripts/run: one screen that stays current while the virtual camera runs.
# Receivers in the studio (ndi-monitor; logs ROOT/var/log/status-monitor.log for the main source,
# status-comms.log for the audio-only "comms" source; each rotated, with .1 the part before) give the program and preview rates and the
# audio level; camera-sim's control socket the tally lamp, the position
# and the last packets on the VISCA line; fpga-sim's the OSD engine. On a terminal the screen is
# redrawn in place every second; otherwise one plain line every 5 s. Sourced by scripts/run.

status_pid=""
status_monitor_pids=()

# status_query SOCKET COMMAND: a simulator's answer, without its closing "ok".
status_query() {
  echo "$2" | socat -t 2 - "UNIX-CONNECT:$1" 2>/dev/null | grep -v '^ok$'
}

# status_last LOG PREFIX: the text after PREFIX on the last line of ROOT/var/log/LOG that starts
# with it ("nothing received yet" before the first).
status_last() {
  local line
  line=$(log_text "$log_dir/$1" | grep -F "$2" | tail -n 1)
  line=${line#"$2"}
  echo "${line:-nothing received yet}"
}

# status_lines: the status as "name: value" lines.
status_lines() {
  local state lamp position visca dump osd_en width height
  state=$(status_query "$camera_control" state)
  case "$(sed -n 's/^tally_lamp=//p' <<<"$state")" in
    1) lamp=preview ;;
    2) lamp=program ;;
    3) lamp=off ;;
    *) lamp=unknown ;;
  esac
  position="pan $(sed -n 's/^pan=//p' <<<"$state") tilt $(sed -n 's/^tilt=//p' <<<"$state") zoom $(sed -n 's/^zoom=//p' <<<"$state")"
  visca=$(status_query "$camera_control" history | tail -n 3 | paste -sd '|' - | sed 's/|/  |  /g')
  dump=$(status_query "$fpga_control" dump)
  osd_en=$(sed -n 's/^OSD_REG_OSD_EN //p' <<<"$dump")
  width=$(($(sed -n 's/^OSD_REG_OSD_H_STOP_POINT //p' <<<"$dump")))
  height=$(($(sed -n 's/^OSD_REG_OSD_V_STOP_POINT //p' <<<"$dump")))
  echo "format:   $(sed -n 's/.*"VideoFormat":"\([^"]*\)".*/\1/p' "$root/etc/vantor-enc1-settings.json")"
  echo "program:  $(status_last status-monitor.log 'video program: ')"
  echo "preview:  $(status_last status-monitor.log 'video preview: ')"
  echo "audio:    $(status_last status-comms.log 'audio level: ')"
  echo "tally:    $lamp"
  echo "camera:   $position"
  echo "VISCA:    ${visca:-nothing on the line yet}"
  if [ $((osd_en)) -ne 0 ]; then
    echo "OSD:      shown, ${width}x${height}"
  else
    echo "OSD:      off"
  fi
}

# status_loop HELP_FILE: prints the status until killed.
status_loop() {
  local help_file=$1 lines
  if [ -t 1 ]; then
    while :; do
      lines=$(status_lines)
      # Cursor home, every line cleared to its end, the rest of the screen cleared.
      printf '\033[H=== the virtual camera (%s)\033[K\n' "$(date +%T)"
      while IFS= read -r line; do printf '%s\033[K\n' "$line"; done <<<"$lines"
      printf '\033[K\n'
      while IFS= read -r line; do printf '%s\033[K\n' "$line"; done <"$help_file"
      printf '\033[J'
      sleep 1
    done
  else
    while :; do
      sleep 5
      lines=$(status_lines | sed 's/:  */: /')
      echo "status: ${lines//$'\n'/; }"
    done
  fi
}

# status_receiver LOG ADDRESS OPTION...: one ndi-monitor in the studio, its output in LOG (rotated:
# it prints a line a second for as long as the board runs). The pid kept is ndi-monitor's.
status_receiver() {
  local log=$1 source_address=$2
  shift 2
  local monitor=("$bin_dir/ndi-monitor" --connect-timeout 3600 "$@" "$source_address")
  [ -n "$studio_ns" ] && monitor=(ip netns exec "$studio_ns" "${monitor[@]}")
  setsid "${monitor[@]}" </dev/null > >(log_rotate_into "$log_dir/$log") 2>&1 &
  status_monitor_pids+=("$!")
}

# board_status_start HELP_FILE: the studio's receivers, then the screen.
board_status_start() {
  local comms
  status_receiver status-monitor.log "$address" --streams both
  if comms=$(find_sender comms "$app_pid"); then
    [ -n "$cam_ns" ] && comms=$BOARD_CAMERA_ADDRESS:${comms##*:}
    status_receiver status-comms.log "$comms" --streams none
  fi
  [ -t 1 ] && printf '\033[H\033[2J'
  status_loop "$1" &
  status_pid=$!
}

# board_status_stop: the screen first (it must not draw over the stopping messages), then the
# receiver.
board_status_stop() {
  if [ -n "$status_pid" ]; then
    kill -TERM "$status_pid" 2>/dev/null
    wait "$status_pid" 2>/dev/null
    status_pid=""
  fi
  local pid
  for pid in "${status_monitor_pids[@]}"; do
    stop_process "$pid" ndi-monitor TERM 10
  done
  status_monitor_pids=()
}
