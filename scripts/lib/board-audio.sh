# shellcheck shell=bash
# The virtual board's headset input: an ALSA configuration below the board root under which the
# capture device "default:CARD=vtrheadsetsnd" opens unchanged, and audio-sim, which feeds it 10 ms
# blocks through a FIFO. Sourced by scripts/run (and by tests, for the configuration).
#
# ALSA_CONFIG_PATH names the configuration instead of the machine's own. Its "default" device takes
# the CARD argument of the firmware's device name and is the board's own ALSA I/O plugin
# (sim/audio/headset_pcm_plugin.cpp, BIN_DIR/libasound_module_pcm_vtrheadset.so), which behaves
# as a capture driver: it hands samples over per period, overruns when the reader falls behind
# the buffer, and loses the device when audio-sim is told "unplug". audio-sim writes exactly one
# block of 480 frames every 10 ms into the FIFO the plugin reads.

# board_audio_config ROOT BIN_DIR: writes ROOT/etc/alsa/asound.conf naming ROOT/dev/vtrheadsetsnd as
# the capture input and BIN_DIR's plugin; prints the configuration's path.
board_audio_config() {
  local root=$1 bin=$2 config=$1/etc/alsa/asound.conf
  mkdir -p "$root/etc/alsa" || return 1
  cat >"$config" <<CONF || return 1
# The virtual board's headset input (written by scripts/lib/board-audio.sh).
pcm_type.vtrheadset {
  lib "$bin/libasound_module_pcm_vtrheadset.so"
}
pcm.default {
  @args [ CARD ]
  @args.CARD { type string default "vtrheadsetsnd" }
  type vtrheadset
  fifo "$root/dev/vtrheadsetsnd"
}
CONF
  printf '%s\n' "$config"
}

# Set by board_audio_start, read by scripts/run.
audio_pid=""
audio_control=""
audio_config=""

# board_audio_start ROOT BIN_DIR LOG_DIR: writes the configuration and starts audio-sim in a
# session of its own; sets audio_pid, audio_control and audio_config. Fails when audio-sim does not
# come up within 10 s.
board_audio_start() {
  local root=$1 bin=$2 log=$3 tries=0
  # shellcheck disable=SC2034 # read by scripts/run
  audio_config=$(board_audio_config "$root" "$bin") || return 1
  audio_control=$root/run/audio-sim.control
  setsid "$bin/audio-sim" --fifo "$root/dev/vtrheadsetsnd" --control "$audio_control" \
    </dev/null >"$log/audio-sim.log" 2>&1 &
  audio_pid=$!
  until [ -p "$root/dev/vtrheadsetsnd" ] && [ -S "$audio_control" ]; do
    if ! kill -0 "$audio_pid" 2>/dev/null || [ "$tries" -ge 100 ]; then
      tail -n 20 "$log/audio-sim.log"
      return 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
}
