#!/usr/bin/env bash
# Runs a command inside the private network namespace made by `unshare --net` (see scripts/test.sh):
# loopback up, a veth pair with 10.77.0.1/24 and 10.77.0.2/24 (ICE gathers no candidate on loopback),
# a default route so that broadcasts to 255.255.255.255 have somewhere to go, and a virtual display
# (Xvfb 1920x1080x24 with a small window manager). Refuses to run in the machine's own namespace.
set -euo pipefail

if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
    echo "in-netns.sh: refusing to run in the machine's real network namespace" >&2
    exit 2
fi

# X clients that a test starts inside its own LAN namespaces cannot reach this namespace's abstract
# X socket and fall back to the path in /tmp/.X11-unix, which every concurrent run's Xvfb binds anew;
# a private folder there keeps that path this run's own.
if [ -z "${ZU_PRIVATE_X11_DIR:-}" ]; then
    exec unshare --mount --propagation private env ZU_PRIVATE_X11_DIR=1 "$0" "$@"
fi
# The folder exists only where an X server ran before; making it is what an X server does itself.
mkdir -p -m 1777 /tmp/.X11-unix
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix

# A small file system of this run's own, for what a full disk does to a receiver.
small_fs=$(mktemp -d /tmp/zu-small-fs.XXXXXX)
mount -t tmpfs -o size=4m,mode=1777 tmpfs "$small_fs"
export ZU_TEST_SMALL_FS=$small_fs

ip link set lo up
ip link add zuveth0 type veth peer name zuveth1
ip addr add 10.77.0.1/24 dev zuveth0
ip addr add 10.77.0.2/24 dev zuveth1
ip link set zuveth0 up
ip link set zuveth1 up
ip route add default via 10.77.0.2 dev zuveth0 2>/dev/null || true
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ZU_TEST_NETNS=1 ZU_TEST_ADDR_A=10.77.0.1 ZU_TEST_ADDR_B=10.77.0.2
# The tests' desktop is the Xvfb below, whatever desktop the tests were started from; the Wayland
# tests make a session of their own.
export XDG_SESSION_TYPE=x11
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

xvfb_pid=""
wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    umount "$small_fs" 2>/dev/null && rmdir "$small_fs" 2>/dev/null || true
}
trap cleanup EXIT

if command -v Xvfb >/dev/null; then
    fdfile=$(mktemp)
    exec 9>"$fdfile"
    Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    exec 9>&-
    display=$(head -n1 "$fdfile")
    rm -f "$fdfile"
    if [ -n "$display" ]; then
        export DISPLAY=":$display"
        if command -v openbox >/dev/null; then
            openbox --sm-disable >/dev/null 2>&1 &
            wm_pid=$!
        fi
    else
        echo "in-netns.sh: Xvfb did not start; display tests will fail" >&2
    fi
fi

"$@"
