# shellcheck shell=bash
# The virtual board's headset input: an ALSA configuration below the board root under which the
# capture device "default:CARD=vtrheadsetsnd" opens unchanged, and audio-sim, which feeds it 10 ms
# blocks through a FIFO. Sourced by scripts/run (and by tests, for the configuration).
#
# ALSA_CONFIG_PATH names the configuration instead of the machine's own. Its "default" device takes
# the CARD argument of the firmware's device name and is ALSA's file plugin over a null device,
# reading its samples from the FIFO; nothing in ALSA paces that, so audio-sim writes exactly one
# block of 480 frames every 10 ms.

# board_audio_config ROOT: writes ROOT/etc/alsa/asound.conf naming ROOT/dev/vtrheadsetsnd as the
# capture input; prints the configuration's path.
board_audio_config() {
  local root=$1 config=$1/etc/alsa/asound.conf
  mkdir -p "$root/etc/alsa" || return 1
  cat >"$config" <<CONF || return 1
# The virtual board's headset input (written by scripts/lib/board-audio.sh).
pcm.default {
  @args [ CARD ]
  @args.CARD { type string default "vtrheadsetsnd" }
  type file
  slave.pcm { type null }
  file "/dev/null"
  infile "$root/dev/vtrheadsetsnd"
  format "raw"
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
  audio_config=$(board_audio_config "$root") || return 1
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
