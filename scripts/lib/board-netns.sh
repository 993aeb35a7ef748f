# shellcheck shell=bash
# The virtual board's network: the camera in a network namespace of its own with an "eth0" that a
# veth pair joins to a second "studio" namespace, where tools run. Neither namespace has a link to
# the machine's real network, so nothing the camera sends (NDI, VISCA over IP replies, discovery
# broadcasts) can leave the machine. Sourced by scripts/run.

BOARD_CAMERA_ADDRESS=10.77.0.2
BOARD_STUDIO_ADDRESS=10.77.0.1
BOARD_PREFIX_LENGTH=24
# A fixed, locally administered MAC address for the camera's eth0, so that what the camera
# announces (product metadata, discovery replies) is the same from run to run.
BOARD_CAMERA_MAC=02:56:54:52:00:02

# board_netns_exists NAME: true when the named network namespace exists.
board_netns_exists() {
  ip netns list 2>/dev/null | awk '{print $1}' | grep -qxF -- "$1"
}

# board_netns_permitted: true when this machine lets us create network namespaces (root with the
# ip tool). Says why not on standard error otherwise.
board_netns_permitted() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "scripts/run: not root, so no network namespaces: the camera runs on loopback" >&2
    return 1
  fi
  if ! command -v ip >/dev/null 2>&1; then
    echo "scripts/run: the ip tool (iproute2) is missing: the camera runs on loopback" >&2
    return 1
  fi
  return 0
}

# ip netns keeps named namespaces as mounts below /run/netns, which it first makes a mount point
# of its own. Whether that was so before this board is remembered, so that the board takes away
# the mount point again when it made it and nothing else uses it.
BOARD_NETNS_DIR=/run/netns
board_netns_dir_was_mounted=1

# board_netns_up CAMERA_NS STUDIO_NS: creates both namespaces and the link between them. On any
# failure removes what it made and returns non-zero.
board_netns_up() {
  local cam=$1 studio=$2 err
  board_netns_dir_was_mounted=1
  mountpoint -q "$BOARD_NETNS_DIR" 2>/dev/null || board_netns_dir_was_mounted=0
  if board_netns_exists "$cam" || board_netns_exists "$studio"; then
    echo "scripts/run: network namespace $cam or $studio exists already" >&2
    return 1
  fi
  if ! err=$(ip netns add "$cam" 2>&1); then
    echo "scripts/run: cannot create a network namespace ($err): the camera runs on loopback" >&2
    return 1
  fi
  if ! err=$(ip netns add "$studio" 2>&1) ||
    ! err=$(ip link add eth0 netns "$cam" address "$BOARD_CAMERA_MAC" type veth \
      peer name studio0 netns "$studio" 2>&1) ||
    ! err=$(ip -n "$cam" link set lo up 2>&1) ||
    ! err=$(ip -n "$cam" addr add "$BOARD_CAMERA_ADDRESS/$BOARD_PREFIX_LENGTH" \
      broadcast + dev eth0 2>&1) ||
    ! err=$(ip -n "$cam" link set eth0 up 2>&1) ||
    ! err=$(ip -n "$studio" link set lo up 2>&1) ||
    ! err=$(ip -n "$studio" addr add "$BOARD_STUDIO_ADDRESS/$BOARD_PREFIX_LENGTH" \
      broadcast + dev studio0 2>&1) ||
    ! err=$(ip -n "$studio" link set studio0 up 2>&1) ||
    ! err=$(ip -n "$cam" route add default via "$BOARD_STUDIO_ADDRESS" 2>&1); then
    echo "scripts/run: cannot set up the camera's network ($err)" >&2
    board_netns_down "$cam" "$studio"
    return 1
  fi
}

# board_netns_down CAMERA_NS STUDIO_NS: ends every process still inside either namespace and
# removes both (which removes the veth pair with them). Safe to call for namespaces that do not
# exist.
board_netns_down() {
  local ns pid
  for ns in "$@"; do
    board_netns_exists "$ns" || continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null
    done
    ip netns del "$ns" 2>/dev/null || echo "scripts/run: cannot remove network namespace $ns" >&2
  done
  if [ "$board_netns_dir_was_mounted" -eq 0 ] && mountpoint -q "$BOARD_NETNS_DIR" 2>/dev/null &&
    [ -z "$(ls -A "$BOARD_NETNS_DIR" 2>/dev/null)" ]; then
    umount "$BOARD_NETNS_DIR" 2>/dev/null
  fi
}
