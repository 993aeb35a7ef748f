# shellcheck shell=bash
# The virtual board's mDNS: a D-Bus system bus and an avahi-daemon inside a network namespace (the
# camera's and the studio's each get a pair), so that NDI sources are announced and found across
# the veth link as on a studio network. Each daemon runs in a private mount namespace of its own
# with a fresh /run, so that its "/run/avahi-daemon" paths and the bus socket collide neither with
# the other namespace's nor with the machine's; the bus listens on a socket below the board root
# and programs reach it through DBUS_SYSTEM_BUS_ADDRESS. Nothing runs in the machine's own network
# namespace, so nothing is announced on its real interfaces. Sourced by scripts/run and tests.

# board_avahi_permitted: true when avahi-daemon and dbus-daemon are installed (scripts/setup).
board_avahi_permitted() {
  if ! command -v avahi-daemon >/dev/null 2>&1 && [ ! -x /usr/sbin/avahi-daemon ]; then
    echo "scripts/run: avahi-daemon is not installed (scripts/setup): no mDNS on the board" >&2
    return 1
  fi
  if ! command -v dbus-daemon >/dev/null 2>&1; then
    echo "scripts/run: dbus-daemon is not installed (scripts/setup): no mDNS on the board" >&2
    return 1
  fi
}

# board_avahi_bus DIR: the D-Bus address of the bus that board_avahi_up started in DIR.
board_avahi_bus() {
  echo "unix:path=$1/system_bus_socket"
}

# board_avahi_config DIR HOST INTERFACE: writes the bus's and avahi-daemon's configuration into
# DIR: avahi with host name HOST, on INTERFACE only, IPv4.
board_avahi_config() {
  local dir=$1 host=$2 interface=$3
  mkdir -p "$dir" || return 1
  cat >"$dir/dbus.conf" <<CONF || return 1
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$(board_avahi_bus "$dir")</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  cat >"$dir/avahi-daemon.conf" <<CONF
[server]
host-name=$host
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
}

# board_avahi_exec_bus NS DIR: becomes the D-Bus bus of DIR's configuration in network namespace
# NS (in a private mount namespace with a fresh /run).
board_avahi_exec_bus() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  exec ip netns exec "$1" unshare --mount --propagation private sh -c \
    'mount -t tmpfs board-run /run && exec dbus-daemon --nofork --nopidfile --config-file="$1"' \
    sh "$2/dbus.conf"
}

# board_avahi_exec_daemon NS DIR: becomes avahi-daemon of DIR's configuration in network
# namespace NS (in a private mount namespace with a fresh /run), on DIR's bus.
board_avahi_exec_daemon() {
  local daemon
  daemon=$(command -v avahi-daemon || echo /usr/sbin/avahi-daemon)
  # shellcheck disable=SC2016 # expanded by the inner shell
  DBUS_SYSTEM_BUS_ADDRESS=$(board_avahi_bus "$2") exec ip netns exec "$1" \
    unshare --mount --propagation private sh -c \
    'mount -t tmpfs board-run /run && mkdir /run/avahi-daemon &&
     exec "$1" --no-chroot --no-drop-root --no-rlimits --no-proc-title -f "$2"' \
    sh "$daemon" "$2/avahi-daemon.conf"
}

# board_avahi_up NS DIR HOST INTERFACE: starts the bus and avahi-daemon (see board_avahi_config)
# in network namespace NS, their files and logs in DIR. Waits until avahi has started; returns
# non-zero (and says why) when it does not come up.
board_avahi_up() {
  local ns=$1 dir=$2 tries=0
  board_avahi_config "$dir" "$3" "$4" || return 1
  (board_avahi_exec_bus "$ns" "$dir") </dev/null >"$dir/dbus.log" 2>&1 &
  echo $! >"$dir/dbus.pid"
  while [ ! -S "$dir/system_bus_socket" ]; do
    if [ "$tries" -ge 100 ] || ! kill -0 "$(cat "$dir/dbus.pid")" 2>/dev/null; then
      echo "scripts/run: the D-Bus bus in $ns did not start (see $dir/dbus.log)" >&2
      return 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  (board_avahi_exec_daemon "$ns" "$dir") </dev/null >"$dir/avahi-daemon.log" 2>&1 &
  echo $! >"$dir/avahi-daemon.pid"
  tries=0
  until grep -q "Server startup complete" "$dir/avahi-daemon.log" 2>/dev/null; do
    if [ "$tries" -ge 100 ] || ! kill -0 "$(cat "$dir/avahi-daemon.pid")" 2>/dev/null; then
      echo "scripts/run: avahi-daemon in $ns did not start (see $dir/avahi-daemon.log)" >&2
      return 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
}

# board_avahi_down DIR...: stops the daemons started in each DIR (avahi first, so that it says
# goodbye for what it announced while the bus still runs).
board_avahi_down() {
  local dir name pid
  for dir in "$@"; do
    for name in avahi-daemon dbus; do
      [ -f "$dir/$name.pid" ] || continue
      pid=$(cat "$dir/$name.pid")
      kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
      rm -f "$dir/$name.pid"
    done
  done
}
