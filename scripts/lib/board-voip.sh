# shellcheck shell=bash
# The camera-control services of the virtual board (VISCA over IP on UDP 52381, discovery on
# 52380, the control channel on 420). In the camera's own namespace they bind every address, as on
# the camera; on loopback VANTOR_BIND_ADDRESS keeps them on 127.0.0.1 and discovery stays off, so
# nothing listens on or broadcasts to the machine's real network. Sourced by scripts/run.

# board_voip_env CAMERA_NS: the environment assignment for encoder-app. In a namespace of its own
# the variable is empty (every address, as on the camera), also when the caller had set it.
board_voip_env() {
  if [ -n "$1" ]; then
    echo "VANTOR_BIND_ADDRESS="
  else
    echo "VANTOR_BIND_ADDRESS=127.0.0.1"
  fi
}

# board_voip_help BIN_DIR CAMERA_ADDRESS [STUDIO_NS]: the visca-ip command that reaches the camera.
board_voip_help() {
  local bin_dir=$1 address=$2 studio=${3:-}
  echo "Drive the camera with VISCA over IP (UDP 52381):"
  if [ -n "$studio" ]; then
    echo "  ip netns exec $studio $bin_dir/visca-ip $address home"
  else
    echo "  $bin_dir/visca-ip $address home"
  fi
}
