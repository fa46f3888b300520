#!/usr/bin/env bash
# A throw-away LAN of network namespaces for tests: one "switch" namespace holding a bridge per
# subnet, and 1 to 4 hosts joined to it by veth pairs. Subnet S is 10.77.S.0/24 and host H has
# the address 10.77.S.H on it; each host's default route leaves by its first subnet, so that
# 255.255.255.255 reaches the other hosts of that subnet. The namespaces are named
# zulan-<pid>-<n>-..., removed on every exit (also on INT, TERM, HUP and a closed stdin in hold),
# and namespaces of owners that have died (and hold no process any more) are swept away at every
# start.
#
#   netlan.sh run  [LAN options] [--timeout S] [--background H[,H...]] -- CMD1 ... [::: CMD2 ...]...
#       Runs command i in host i at the same time and waits for the foreground ones; background
#       hosts (services) get SIGTERM once those have ended. Output lines are prefixed "[hI] ".
#       Exit status: the first non-zero status of a foreground command (by host number), 124 on
#       timeout, else 0.
#       Each command sees ZU_LAN_HOST=<i>, ZU_LAN_ADDR_<h>=<first address of host h>,
#       ZU_LAN_NETNS_<h>=<namespace of host h>.
#   netlan.sh hold [LAN options]
#       Makes the LAN, prints "host <h> <netns> <addr>..." per host, then "ready", and keeps it
#       until stdin reaches its end or a signal arrives.
#   netlan.sh sweep
#       Removes namespaces left by netlan.sh processes that no longer exist.
#
# LAN options:
#   --hosts N          number of hosts (1 to 4, default 2), all on subnet 1 unless --net says otherwise
#   --net H=S[,S...]   host H is on these subnets (1 to 9), the first one carrying its default route
set -euo pipefail

PREFIX=zulan
hosts=2
declare -A host_nets=()
timeout_s=0
background=""

die() {
    echo "netlan.sh: $*" >&2
    exit 2
}

# A namespace still holding a process is left alone, even if its owner looks dead (an owner in
# another pid namespace looks dead too).
busy_inodes=""
in_use() {
    local inode
    inode=$(stat -L -c %i "/run/netns/$1" 2>/dev/null) || return 1
    if [ -z "$busy_inodes" ]; then
        busy_inodes=" $(stat -L -c %i /proc/[0-9]*/ns/net 2>/dev/null | sort -u | tr '\n' ' ' || true) "
    fi
    [[ $busy_inodes == *" $inode "* ]]
}

sweep() {
    local ns pid
    [ -d /run/netns ] || return 0
    for ns in $(ls /run/netns); do
        case "$ns" in
        "$PREFIX"-*) ;;
        *) continue ;;
        esac
        pid=${ns#"$PREFIX"-}
        pid=${pid%%-*}
        [[ $pid =~ ^[0-9]+$ ]] || continue
        if [ "$pid" != "$$" ] && ! kill -0 "$pid" 2>/dev/null && ! in_use "$ns"; then
            ip netns delete "$ns" 2>/dev/null || true
        fi
    done
}

lan=""
made=()
children=()

teardown() {
    local pid ns
    for pid in "${children[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${children[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    children=()
    for ns in "${made[@]}"; do
        ip netns delete "$ns" 2>/dev/null || true
    done
    made=()
}

host_ns() { echo "$lan-h$1"; }

nets_of() {
    echo "${host_nets[$1]:-1}" | tr ',' ' '
}

first_addr() {
    local s
    s=$(nets_of "$1" | awk '{print $1}')
    echo "10.77.$s.$1"
}

make_lan() {
    local n=0 h s idx br used_nets=()
    while [ -e "/run/netns/$PREFIX-$$-$n-sw" ]; do n=$((n + 1)); done
    lan="$PREFIX-$$-$n"
    br="$lan-sw"
    ip netns add "$br"
    made+=("$br")
    ip -n "$br" link set lo up
    for h in $(seq "$hosts"); do
        for s in $(nets_of "$h"); do
            [[ " ${used_nets[*]} " == *" $s "* ]] || used_nets+=("$s")
        done
    done
    for s in "${used_nets[@]}"; do
        ip -n "$br" link add "br$s" type bridge forward_delay 0 stp_state 0
        ip -n "$br" link set "br$s" up
    done
    for h in $(seq "$hosts"); do
        local ns
        ns=$(host_ns "$h")
        ip netns add "$ns"
        made+=("$ns")
        ip -n "$ns" link set lo up
        idx=0
        for s in $(nets_of "$h"); do
            ip -n "$br" link add "p$h-$s" type veth peer name "eth$idx" netns "$ns"
            ip -n "$br" link set "p$h-$s" master "br$s"
            ip -n "$br" link set "p$h-$s" up
            ip -n "$ns" addr add "10.77.$s.$h/24" broadcast + dev "eth$idx"
            ip -n "$ns" link set "eth$idx" up
            if [ "$idx" -eq 0 ]; then
                ip -n "$ns" route add default dev "eth$idx"
            fi
            idx=$((idx + 1))
        done
    done
}

describe() {
    local h s line
    for h in $(seq "$hosts"); do
        line="host $h $(host_ns "$h")"
        for s in $(nets_of "$h"); do line="$line 10.77.$s.$h"; done
        echo "$line"
    done
}

parse_lan_option() {
    case "$1" in
    --hosts)
        [[ ${2:-} =~ ^[1-4]$ ]] || die "--hosts takes 1 to 4"
        hosts=$2
        ;;
    --net)
        [[ ${2:-} =~ ^[1-4]=[1-9](,[1-9])*$ ]] || die "--net takes H=S[,S...]"
        host_nets[${2%%=*}]=${2#*=}
        ;;
    *) return 1 ;;
    esac
}

cmd=${1:-}
[ -n "$cmd" ] || die "usage: netlan.sh run|hold|sweep ... (see the head of this file)"
shift

case "$cmd" in
sweep)
    sweep
    exit 0
    ;;
hold | run) ;;
*) die "unknown command $cmd" ;;
esac

while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    if parse_lan_option "$1" "${2:-}"; then
        shift 2
        continue
    fi
    case "$1" in
    --timeout)
        [[ ${2:-} =~ ^[0-9]+$ ]] || die "--timeout takes seconds"
        timeout_s=$2
        shift 2
        ;;
    --background)
        [[ ${2:-} =~ ^[1-4](,[1-4])*$ ]] || die "--background takes H[,H...]"
        background=",$2,"
        shift 2
        ;;
    *) die "unknown option $1" ;;
    esac
done
for h in "${!host_nets[@]}"; do
    [ "$h" -le "$hosts" ] || die "--net names host $h of $hosts"
done

trap 'teardown' EXIT
trap 'teardown; exit 130' INT
trap 'teardown; exit 143' TERM
trap 'teardown; exit 129' HUP

sweep
make_lan

if [ "$cmd" = hold ]; then
    describe
    echo ready
    while read -r _; do :; done
    exit 0
fi

[ "${1:-}" = "--" ] || die "run needs -- and a command per host"
shift
commands=()
current=()
for arg in "$@"; do
    if [ "$arg" = ":::" ]; then
        commands+=("$(printf '%q ' "${current[@]}")")
        current=()
    else
        current+=("$arg")
    fi
done
[ ${#current[@]} -gt 0 ] && commands+=("$(printf '%q ' "${current[@]}")")
[ ${#commands[@]} -le "$hosts" ] || die "${#commands[@]} commands for $hosts hosts"

for h in $(seq "$hosts"); do
    export "ZU_LAN_ADDR_$h=$(first_addr "$h")" "ZU_LAN_NETNS_$h=$(host_ns "$h")"
done

declare -A pid_of=()
for i in "${!commands[@]}"; do
    h=$((i + 1))
    # Own process group per host, so that teardown reaches everything the command started.
    ZU_LAN_HOST=$h setsid bash -c "set -o pipefail; ip netns exec $(host_ns "$h") ${commands[$i]} 2>&1 </dev/null | sed -u 's/^/[h$h] /'" &
    pid_of[$h]=$!
    children+=("$!")
done

status=0
deadline=$((SECONDS + timeout_s))
for h in $(seq ${#commands[@]}); do
    [[ $background == *",$h,"* ]] && continue
    pid=${pid_of[$h]}
    while kill -0 "$pid" 2>/dev/null; do
        if [ "$timeout_s" -gt 0 ] && [ "$SECONDS" -ge "$deadline" ]; then
            echo "netlan.sh: timed out after ${timeout_s}s" >&2
            exit 124
        fi
        sleep 0.1
    done
    rc=0
    wait "$pid" || rc=$?
    if [ "$rc" -ne 0 ] && [ "$status" -eq 0 ]; then
        status=$rc
    fi
done
exit "$status"
