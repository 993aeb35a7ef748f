# shellcheck shell=bash
# Shares variables with scripts/run both ways (root, bin_dir, log_dir, source_dir, registry,
# studio_bus in; the pid out):
# shellcheck disable=SC2034,SC2154
# The camera's web page on the virtual board: webui-app, started after encoder-app with the same
# board root. In the camera's namespace it serves port 80 of every address, as on the camera; on
# loopback it binds 127.0.0.1 on a free port the system hands out, which the script reads from the
# program's first line and prints. It receives the camera's preview stream as encoder-app's
# neighbours do: by name through the sender registry, or the camera's avahi daemon where one runs.
# Sourced by scripts/run, which provides say, setup_failed,
# wait_for and stop_process.

BOARD_WEBUI_PROGRAMS=(webui-app)
webui_pid=""
webui_url=""

# board_webui_start CAMERA_NS CAMERA_ADDRESS: starts webui-app and sets webui_url.
board_webui_start() {
  local ns=$1 address=$2 env_args prefix=()
  env_args=(env "VANTOR_ROOT=$root" "VANTOR_WEBUI_PAGES=$source_dir/webui-app/www"
    "VANTOR_NDI_REGISTRY=$registry")
  if [ -n "$ns" ]; then
    env_args+=("VANTOR_BIND_ADDRESS=" "VANTOR_WEBUI_PORT=80")
    [ -n "$studio_bus" ] && env_args+=("DBUS_SYSTEM_BUS_ADDRESS=$(board_avahi_bus "$root/run/avahi-camera")")
    prefix=(ip netns exec "$ns")
  else
    env_args+=("VANTOR_BIND_ADDRESS=127.0.0.1" "VANTOR_WEBUI_PORT=0")
  fi
  setsid "${prefix[@]}" "${env_args[@]}" "$bin_dir/webui-app" </dev/null >"$log_dir/webui-app.log" 2>&1 &
  webui_pid=$!
  wait_for "webui-app" 30 "$webui_pid" grep -q "webui-app: serving" "$log_dir/webui-app.log"
  local port
  port=$(sed -n 's|^webui-app: serving http://[0-9.]*:\([0-9]*\)/$|\1|p' "$log_dir/webui-app.log" | head -n 1)
  if [ "$port" = 80 ]; then
    webui_url=http://$address/
  else
    webui_url=http://$address:$port/
  fi
  printf 'BOARD_WEBUI_URL=%q\nBOARD_WEBUI_PID=%q\n' "$webui_url" "$webui_pid" >>"$root/run/board.env"
  say "webui-app (pid $webui_pid) serves $webui_url"
}

# board_webui_help STUDIO_NS: where the page is.
board_webui_help() {
  echo "The camera's web page (the first visit sets the administrator password):"
  if [ -n "$1" ]; then
    echo "  $webui_url from the studio namespace, for example: ip netns exec $1 curl -s $webui_url"
  else
    echo "  $webui_url"
  fi
}

board_webui_stop() {
  if [ -n "$webui_pid" ]; then
    stop_process "$webui_pid" webui-app TERM 10
    webui_pid=""
  fi
}

# board_webui_ended PID: says that webui-app ended early; false for another PID.
board_webui_ended() {
  [ -n "$webui_pid" ] && [ "$1" = "$webui_pid" ] || return 1
  webui_pid=""
  say "webui-app ended early; the end of its log:"
  tail -n 20 "$log_dir/webui-app.log"
}

# board_webui_screenshots FOLDER: a picture of each page (webui-<page>.png) for --demo; sets the
# fresh board's password to "demo-password". False when they could not be taken.
board_webui_screenshots() {
  command -v node >/dev/null 2>&1 &&
    timeout 120 node "$source_dir/tests/webui-browser/screenshots.js" "$root" "$1" >>"$1/demo.log" 2>&1
}
