# shellcheck shell=bash
# Shares variables with scripts/run (bin_dir, root, log_dir, camera_control, fpga_control,
# studio_ns, address in; demo_failed out):
# shellcheck disable=SC2034,SC2154
# scripts/run --demo: drives the running virtual camera through each way in (NDI PTZ metadata,
# VISCA over IP, the settings file, NDI tally, the FPGA's command channel), checks what came back
# on the camera module's line, the streams and the OSD, and writes pictures and a log into a
# folder of its own. Sourced by scripts/run, which provides say, bin_dir, root and the board's
# sockets.

demo_dir=""
demo_failed=0
demo_steps=0
demo_passed=0
demo_log=""

# board_demo_folder DIR: the folder for the pictures and the log (a fresh one when DIR is empty).
board_demo_folder() {
  if [ -n "$1" ]; then
    mkdir -p -- "$1" || return 1
    demo_dir=$(cd "$1" && pwd)
  else
    demo_dir=$(mktemp -d "${TMPDIR:-/tmp}/vantor-demo.XXXXXX") || return 1
  fi
  demo_log=$demo_dir/demo.log
  : >"$demo_log"
}

demo_note() {
  echo "$*" >>"$demo_log"
}

# studio COMMAND...: runs a tool where the studio's tools run (the studio namespace, or here),
# in this process (exec), so that a caller that started it in the background can stop it by pid.
studio() {
  if [ -n "$studio_ns" ]; then
    exec ip netns exec "$studio_ns" "$@"
  fi
  exec "$@"
}

# camera_state NAME: one value of camera-sim's state (pan, tilt, zoom, moving, tally_lamp, ...).
camera_state() {
  echo state | socat -t 2 - "UNIX-CONNECT:$camera_control" 2>/dev/null | sed -n "s/^$1=//p"
}

# camera_position: "pan tilt zoom" of the camera module.
camera_position() {
  local state
  state=$(echo state | socat -t 2 - "UNIX-CONNECT:$camera_control" 2>/dev/null)
  printf '%s %s %s\n' "$(sed -n 's/^pan=//p' <<<"$state")" "$(sed -n 's/^tilt=//p' <<<"$state")" \
    "$(sed -n 's/^zoom=//p' <<<"$state")"
}

# until_within SECONDS COMMAND...: true once COMMAND succeeds (polled every 0.1 s), false when
# SECONDS pass first.
until_within() {
  local tries=$(($1 * 10))
  shift
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# demo_step DESCRIPTION OUTCOME DETAIL: counts, logs and prints one step; OUTCOME 0 is a pass.
demo_step() {
  demo_steps=$((demo_steps + 1))
  local verdict=PASS
  if [ "$2" -eq 0 ]; then
    demo_passed=$((demo_passed + 1))
  else
    verdict=FAIL
    demo_failed=1
  fi
  printf '%-4s %2d  %s: %s\n' "$verdict" "$demo_steps" "$1" "$3" | tee -a "$demo_log"
}

# ndi_send WORD...: sends the words, joined by spaces, as one PTZ metadata frame from a receiver
# in the studio; true when the monitor says it was sent.
ndi_send() {
  local xml="$*" reply
  reply=$( (studio "$bin_dir/ndi-monitor" --streams none --metadata "$xml" --seconds 1 \
    --connect-timeout 10 "$address") 2>&1)
  demo_note "  ndi-monitor: $(grep -F 'sent metadata' <<<"$reply" || echo "nothing sent for $xml")"
  grep -qF "sent metadata: $xml" <<<"$reply"
}

# visca_send REQUEST...: one VISCA-over-IP request from the studio; true on its last reply, or
# on its acknowledgement alone: a long move (home, a preset) completes on the module after the
# camera has stopped waiting for it, so its completion may never come back.
visca_send() {
  local reply status line
  reply=$( (studio "$bin_dir/visca-ip" "$camera_address" "$@") 2>&1)
  status=$?
  demo_note "  visca-ip $*:"
  while IFS= read -r line; do demo_note "    $line"; done <<<"$reply"
  [ "$status" -eq 0 ] || grep -qE 'seq 1 +ack ' <<<"$reply"
}

# Conditions polled after a step.
axis_moved() { [ "$(camera_state "$1")" != "$2" ]; }
camera_still() { [ "$(camera_state moving)" = 0 ]; }
at_position() { [ "$(camera_position)" = "$1" ]; }
lamp_is() { [ "$(camera_state tally_lamp)" = "$1" ]; }

# drive_and_stop HOW AXIS START STOP: starts a drive (HOW: ndi or visca), waits for AXIS to move,
# stops it and waits for the camera to stand still.
drive_and_stop() {
  local how=$1 axis=$2 start=$3 stop=$4 before after outcome=1
  before=$(camera_state "$axis")
  # The requests are split into words on purpose: hex bytes for visca-ip, rejoined by ndi_send.
  # shellcheck disable=SC2086
  if "${how}_send" $start && until_within 5 axis_moved "$axis" "$before" &&
    "${how}_send" $stop && until_within 5 camera_still; then
    outcome=0
  fi
  after=$(camera_state "$axis")
  demo_step "$how $axis" "$outcome" "$axis $before -> $after, camera standing still: $(camera_state moving | sed 's/0/yes/;s/1/no/')"
}

# store_home_recall HOW STORE HOME RECALL: stores a preset where the camera stands, sends it home,
# recalls the preset and expects the same pan, tilt and zoom again.
store_home_recall() {
  local how=$1 stored presets_before outcome=1
  stored=$(camera_position)
  presets_before=$(camera_state presets)
  # shellcheck disable=SC2086
  if "${how}_send" $2 && until_within 5 test "$(camera_state presets)" -gt "$presets_before"; then
    outcome=0
  fi
  demo_step "$how store preset" "$outcome" "stored at pan/tilt/zoom $stored, presets $presets_before -> $(camera_state presets)"
  outcome=1
  # shellcheck disable=SC2086
  if "${how}_send" $3 && until_within 10 at_position "0 0 $(camera_state zoom)" &&
    "${how}_send" $4 && until_within 10 at_position "$stored"; then
    outcome=0
  fi
  demo_step "$how recall preset" "$outcome" "home, then recalled: pan/tilt/zoom $(camera_position) (expected $stored)"
}

# The NDI metadata of each request (the receiver's side of the camera's PTZ interface).
ndi_pan='<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="0"/>'
ndi_tilt='<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0.5"/>'
ndi_pt_stop='<ntk_ptz_pan_tilt_speed pan_speed="0" tilt_speed="0"/>'
ndi_zoom='<ntk_ptz_zoom_speed zoom_speed="0.5"/>'
ndi_zoom_stop='<ntk_ptz_zoom_speed zoom_speed="0"/>'
ndi_store='<ntk_ptz_store_preset index="3"/>'
ndi_home='<ntk_ptz_pan_tilt_home_reset home="true"/>'
ndi_recall='<ntk_ptz_recall_preset index="3" speed="1"/>'

# The same through VISCA over IP: drive at speed 8 (pan 02, tilt 02: towards negative positions,
# away from where the NDI drives left the head), stop, zoom wide (away from the NDI zoom, which
# may have reached the tele end on a slow machine), preset 4.
visca_pan='81 01 06 01 08 08 02 03 FF'
visca_zoom_wide='81 01 04 07 03 FF'
visca_tilt='81 01 06 01 08 08 03 02 FF'
visca_pt_stop='81 01 06 01 08 08 03 03 FF'
visca_store='81 01 04 3F 01 04 FF'
visca_recall='81 01 04 3F 02 04 FF'

# program_size_is SIZE: the program stream carries SIZE pictures (ndi-monitor's report).
program_size_is() {
  (studio "$bin_dir/ndi-monitor" --streams program --seconds 1 --connect-timeout 5 "$address") \
    2>/dev/null | grep -q "video program: $1 "
}

# tally_step MODE LAMP NAME: a receiver in the studio puts the source on MODE; the camera's lamp
# must show LAMP (1 preview, 2 program, 3 off) while it is connected.
tally_step() {
  local mode=$1 lamp=$2 monitor outcome=1
  (studio "$bin_dir/ndi-monitor" --streams none --tally "$mode" --seconds 30 "$address") \
    >>"$demo_log" 2>&1 &
  monitor=$!
  until_within 10 lamp_is "$lamp" && outcome=0
  demo_step "tally $mode" "$outcome" "camera's tally lamp $(camera_state tally_lamp) (expected $lamp: $3)"
  kill -TERM "$monitor" 2>/dev/null
  wait "$monitor" 2>/dev/null
}

# snapshot STREAM FILE EXPECTED: one decoded picture of STREAM as FILE; EXPECTED is the
# monitor's size text.
snapshot_step() {
  local stream=$1 file=$2 expected=$3 outcome=1 reply
  reply=$( (studio "$bin_dir/ndi-monitor" --streams "$stream" --snapshot "$file" --seconds 3 \
    --connect-timeout 10 "$address") 2>&1 | grep -F snapshot)
  [ -s "$file" ] && grep -qF "($expected)" <<<"$reply" && outcome=0
  demo_step "$stream picture" "$outcome" "${reply:-no snapshot line} (expected $expected)"
}

# osd_shows: how often platform-app showed the OSD so far.
osd_shows() { grep -c 'OSD_Show()' "$log_dir/platform-app.log"; }
# osd_text_shown SHOWS END_X: platform-app showed the OSD again since SHOWS, last with the text's
# box ending at column END_X (each character is drawn and shown as it arrives).
osd_text_shown() {
  local last
  [ "$(osd_shows)" -gt "$1" ] || return 1
  last=$(grep -E 'osd_point_rightdown_x|OSD_Show\(\)' "$log_dir/platform-app.log" | tail -n 2)
  local pattern="^osd_point_rightdown_x +=[ ]+$2"$'\n'"OSD_Show"
  [[ $last =~ $pattern ]]
}

# board_demo_run: every step; demo_failed is 1 when one did not come back as expected. The format
# step switches to 720p59.94 (to 1080p59.94 when the camera already runs 720p59.94).
board_demo_run() {
  local demo_format=720p59.94 demo_size=1280x720 before shows reply outcome
  if grep -qF '"VideoFormat":"720p59.94"' "$root/etc/vantor-enc1-settings.json"; then
    demo_format=1080p59.94
    demo_size=1920x1080
  fi
  say "demo: pictures and log go to $demo_dir"
  demo_note "virtual camera demo, board root $root, NDI source $address, VISCA over IP $camera_address"

  # NDI PTZ metadata from a receiver, as a studio's controller sends it.
  drive_and_stop ndi pan "$ndi_pan" "$ndi_pt_stop"
  drive_and_stop ndi tilt "$ndi_tilt" "$ndi_pt_stop"
  drive_and_stop ndi zoom "$ndi_zoom" "$ndi_zoom_stop"
  store_home_recall ndi "$ndi_store" "$ndi_home" "$ndi_recall"

  # The same through VISCA over IP.
  drive_and_stop visca pan "$visca_pan" "$visca_pt_stop"
  drive_and_stop visca tilt "$visca_tilt" "$visca_pt_stop"
  drive_and_stop visca zoom "$visca_zoom_wide" zoom-stop
  store_home_recall visca "$visca_store" home "$visca_recall"

  # The format through the settings file, as the web UI changes it.
  before=$(camera_state format)
  outcome=1
  if board_set_video_format "$root" "$demo_format" &&
    until_within 30 program_size_is "$demo_size"; then
    outcome=0
  fi
  demo_step "format $demo_format" "$outcome" "program stream $demo_size: $([ "$outcome" -eq 0 ] && echo yes || echo no), camera module format code $before -> $(camera_state format)"

  snapshot_step program "$demo_dir/program.png" "$demo_size SHQ2"
  snapshot_step preview "$demo_dir/preview.png" "640x360 shq0"

  # NDI tally: program, preview, then a receiver that asks for neither.
  tally_step program 2 "program"
  tally_step preview 1 "preview"
  tally_step off 3 "off"

  # A menu text through the FPGA's command channel, then the OSD as a picture.
  shows=$(osd_shows)
  reply=$(echo 'text 2 3 Menu' | socat -t 5 - "UNIX-CONNECT:$fpga_control" 2>&1)
  outcome=1
  [ "$reply" = ok ] && until_within 10 osd_text_shown "$shows" 5 && outcome=0
  demo_step "menu text" "$outcome" "fpga-sim: $reply, platform-app showed the OSD: $([ "$outcome" -eq 0 ] && echo yes || echo no)"
  reply=$(echo "osd-png $demo_dir/osd.png" | socat -t 5 - "UNIX-CONNECT:$fpga_control" 2>&1)
  outcome=1
  [ "$reply" = ok ] && [ -s "$demo_dir/osd.png" ] && outcome=0
  demo_step "OSD picture" "$outcome" "fpga-sim: $reply"

  # The web page, one picture a page.
  outcome=1
  board_webui_screenshots "$demo_dir" && outcome=0
  demo_step "web page pictures" "$outcome" "webui-dashboard.png, webui-video.png, webui-audio.png, webui-camera.png, webui-ptz.png"

  echo "demo: $demo_passed of $demo_steps steps came back as expected" | tee -a "$demo_log"
  say "demo: $demo_dir/program.png, preview.png, osd.png, webui-*.png and demo.log"
}
