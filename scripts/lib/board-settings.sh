# shellcheck shell=bash
# Default settings of the virtual board: the "/etc" files the encoder application reads, as the
# web UI would leave them on a freshly installed camera. Sourced by scripts/run.

# Video formats the encoder application knows by name; any other text makes it use 1080p59.94.
BOARD_VIDEO_FORMATS=(
  1080p23.97 1080p24 1080p25 1080p29.97 1080p30 720p50 720p59.94 720p60
  1080i50 1080i59.94 1080i60 1080p50 1080p59.94 1080p60
  2160p23.97 2160p24 2160p25 2160p29.97 2160p30
)

# board_known_format TEXT: true when TEXT is one of BOARD_VIDEO_FORMATS.
board_known_format() {
  local format
  for format in "${BOARD_VIDEO_FORMATS[@]}"; do
    [ "$format" = "$1" ] && return 0
  done
  return 1
}

# board_settings_value_ok TEXT: true when TEXT can stand between the two quotes of a settings value
# (the firmware takes everything up to the next double quote, so quotes, backslashes and line
# breaks would corrupt the file).
board_settings_value_ok() {
  case "$1" in
    *'"'* | *\\* | *$'\n'* | *$'\r'*) return 1 ;;
  esac
  return 0
}

# board_write_file PATH TEXT: writes TEXT to PATH through a temporary file in the same folder and a
# rename, so that a program reading PATH meanwhile never sees half a file.
board_write_file() {
  local path=$1 text=$2 tmp
  tmp=$(mktemp "${path}.XXXXXX") || return 1
  if ! printf '%s' "$text" >"$tmp" || ! chmod 0644 "$tmp" || ! mv -f "$tmp" "$path"; then
    rm -f "$tmp"
    return 1
  fi
}

# board_write_default ROOT SYSTEM_PATH TEXT: writes TEXT at ROOT/SYSTEM_PATH unless a file is
# already there (a board root given again keeps what was changed in it).
board_write_default() {
  local path=$1$2
  [ -e "$path" ] && return 0
  board_write_file "$path" "$3"
}

# board_set_video_format ROOT FORMAT: sets "VideoFormat" in the board's encoder settings file.
board_set_video_format() {
  local path=$1/etc/vantor-enc1-settings.json text
  text=$(cat "$path") || return 1
  if [[ $text != *'"VideoFormat":"'* ]]; then
    echo "scripts/run: $path has no \"VideoFormat\" value to set" >&2
    return 1
  fi
  local before=${text%%\"VideoFormat\":\"*} after=${text#*\"VideoFormat\":\"}
  after=${after#*\"}
  board_write_file "$path" "${before}\"VideoFormat\":\"$2\"${after}"
}

# board_write_settings ROOT FORMAT: every settings and plain text file below ROOT/etc that the
# encoder application reads and that is missing, with defaults; then "VideoFormat" = FORMAT when
# FORMAT is not empty.
board_write_settings() {
  local root=$1 format=$2
  mkdir -p "$root/etc" || return 1

  board_write_default "$root" /etc/vantor-enc1-settings.json \
    '{"VideoFormat":"1080p59.94","VideoSampleRate":"422","StreamName":"CAM","NDIGroup":"NDIGroupDis","NDIGroupName":"public","BandwidthMode":"Auto","BandwidthSelect":"120","TallyMode":"TallyOn","NDIAudio":"NDIAudioComms"}' &&
    board_write_default "$root" /etc/vantor-audio-settings.json \
      '{"AnalogAudioInGain":"50","AnalogAudioOutGain":"50"}' &&
    board_write_default "$root" /etc/vantor-ndinet-tx-settings.json \
      '{"txpm":"Multi-TCP","txnetprefix":"239.255.0.0","txnetmask":"255.255.0.0","txmcttl":"1"}' &&
    board_write_default "$root" /etc/vantor-ndinet-find-settings.json \
      '{"NDIDisServ":"NDIDisServDis","NDIDisServIP":"10.77.0.1"}' &&
    board_write_default "$root" /etc/vantor-ptz-settings.json \
      '{"PanSpeed":"24","TiltSpeed":"23","ZoomSpeed":"7"}' &&
    board_write_default "$root" /etc/vantor-exp-setup.json \
      '{"ExpMode":"FULL-AUTO","ExpCompEn":"Off","ExpCompLvl":"0","AeResponse":"1","SlowShutterEn":"Off","SlowShutterLimit":"0","ShutterSpeed":"16","ShutterMaxSpeed":"0","ShutterMinSpeed":"0","GainLevel":"0","GainLimit":"15","GainPoint":"Off","GainPointPosition":"0","IrisLevel":"0","BrightLevel":"0","HighSensitivity":"Off","BackLight":"Off","Spotlight":"Off"}' &&
    board_write_default "$root" /etc/vantor-wb-setup.json \
      '{"WbMode":"AUTO","RedGain":"128","BlueGain":"128","BG":"0","BR":"0","GB":"0","GR":"0","RB":"0","RG":"0","Level":"0","Matrix":"Off","Offset":"0","Phase":"0","Select":"STD","Speed":"3"}' &&
    board_write_default "$root" /etc/vantor-pic-setup.json \
      '{"ChromeSuppress":"OFF","Flip":"Off","HighlightComp":"Off","IRCutFilter":"Off","Mirror":"Off","NDFilter":"0","Stabilizer":"Off","ThreeDNR":"3","TWODNR":"3"}' &&
    board_write_default "$root" /etc/vantor-det-setup.json \
      '{"Bandwidth":"DEFAULT","BwBalance":"TYPE1","Crispening":"0","Detail":"On","Level":"0","HighLightDetail":"0","HvBalance":"0","Limit":"0","SuperLow":"0"}' &&
    board_write_default "$root" /etc/vantor-gamma-setup.json \
      '{"BlackGammaLevel":"0","BlackLevel":"0","BlackLevelRange":"LOW","Effect":"0","Level":"0","Offset":"0","Settings":"STANDARD","Pattern":"0","PatternFine":"0","VisibilityEnhancer":"Off"}' &&
    board_write_default "$root" /etc/vantor-hardware-version $'Vantor OPTA R8T\n' &&
    board_write_default "$root" /etc/vantor-firmware-version $'0.1.0-virtual\n' &&
    board_write_default "$root" /etc/hostname $'vtrcam01\n' ||
    return 1

  if [ -n "$format" ]; then
    board_set_video_format "$root" "$format" || return 1
  fi
}
