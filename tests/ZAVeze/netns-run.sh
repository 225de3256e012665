#!/bin/bash
# Runs a device-tool test program between two network namespaces joined by a veth pair, with the
# simulated device on the far end:
#   netns-run.sh <devicesim.py> <devices.json> <program> [args...]
# The program runs on the tool side and finds in its environment:
#   ZAVEZE_TEST_IF   the tool-side interface (192.0.2.1/24, MTU 1501)
#   ZAVEZE_TEST_DIR  the run directory: ctl.sock (simulator control), requests.jsonl (its log)
#   ZAVEZE_TEST_RELINK  a script that deletes and makes again the veth pair, as an unplugged and
#                    replugged adapter would be
# As root the two ends live in two namespaces of their own; otherwise `unshare -rn` gives one
# private namespace that holds both ends. Where neither works, or a peer program is missing, the
# run exits 77 (skipped), or 1 (failed, naming what is missing) under SONARIS_REQUIRE_PEERS=1.
# Everything made here goes away on exit; nothing leaves the namespaces.
set -u
sim=$1 config=$2
shift 2

# Test discovery only lists the tests: no namespaces for it.
for arg in "$@"; do
    case $arg in --gtest_list_tests) exec "$@" ;; esac
done

skip() {
    if [ "${SONARIS_REQUIRE_PEERS:-}" = 1 ]; then
        echo "FAILED: missing peer: $*" >&2
        exit 1
    fi
    echo "SKIPPED: missing peer: $*" >&2
    exit 77
}

command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
[ -x /usr/bin/python3 ] || skip "/usr/bin/python3 is missing"

if [ "$(id -u)" != 0 ] && [ -z "${ZAVEZE_NETNS_INNER:-}" ]; then
    command -v unshare >/dev/null || skip "not root and unshare is missing"
    unshare -rn true 2>/dev/null || skip "not root and unprivileged user namespaces are not allowed"
    ZAVEZE_NETNS_INNER=1 exec unshare -rn "$0" "$sim" "$config" "$@"
fi

n=$$
run=$(mktemp -d "${TMPDIR:-/tmp}/zaveze-run.XXXXXX") || skip "no temporary directory"
toolns=dtt$n devns=dtd$n
tif=dta$n dif=dtb$n
sim_pid=

if [ -n "${ZAVEZE_NETNS_INNER:-}" ]; then
    # One private namespace: both ends here.
    in_tool() { "$@"; }
    in_dev() { "$@"; }
    dev_exec=
    ipt() { ip "$@"; }
    ipd() { ip "$@"; }
    ip link set lo up
else
    ip netns add $toolns 2>/dev/null || skip "ip netns add failed (no CAP_SYS_ADMIN?)"
    ip netns add $devns || { ip netns del $toolns; skip "ip netns add failed"; }
    in_tool() { ip netns exec $toolns "$@"; }
    in_dev() { ip netns exec $devns "$@"; }
    dev_exec="ip netns exec $devns"
    ipt() { ip -n $toolns "$@"; }
    ipd() { ip -n $devns "$@"; }
    ipt link set lo up
fi

cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    if [ -z "${ZAVEZE_NETNS_INNER:-}" ]; then
        ip netns del $toolns 2>/dev/null
        ip netns del $devns 2>/dev/null
    fi
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# Fixed addresses, so that a re-made pair looks like the same adapter again. Both ends MTU 1501,
# so that a 1515-byte frame passes the link and only the capture drops it. The tool side gets its
# name last (after $1 seconds), once the simulator follows its new interface: a frame the tool
# sends at once then finds it listening.
link() {
    local tmp=dtx$n
    if [ -n "${ZAVEZE_NETNS_INNER:-}" ]; then
        ip link add $tmp address 02:00:00:00:dd:01 type veth peer name $dif address 02:00:00:00:dd:02 || return 1
    else
        ipt link add $tmp address 02:00:00:00:dd:01 type veth peer name $dif address 02:00:00:00:dd:02 \
            netns $devns || return 1
    fi
    # No IPv6 on the link: no router or neighbour solicitations among the frames.
    in_dev sysctl -qw net.ipv6.conf.$dif.disable_ipv6=1 2>/dev/null
    ipd link set $dif mtu 1501 up || return 1
    sleep "${1:-0}"
    ipt link set $tmp name $tif || return 1
    in_tool sysctl -qw net.ipv6.conf.$tif.disable_ipv6=1 2>/dev/null
    ipt link set $tif mtu 1501 up &&
    ipt addr add 192.0.2.1/24 dev $tif
}
link || skip "cannot make a veth pair here"

declare -f in_tool in_dev ipt ipd link > "$run/functions.sh"
cat > "$run/relink.sh" <<EOS
#!/bin/bash
# Unplugs the tool-side adapter for \$1 seconds (at least 0.5: the simulator's time to follow).
n=$n tif=$tif dif=$dif toolns=$toolns devns=$devns ZAVEZE_NETNS_INNER=${ZAVEZE_NETNS_INNER:-}
. "$run/functions.sh"
ipt link del $tif || exit 1
link "\${1:-0.5}"
EOS
chmod +x "$run/relink.sh"

# Started directly (not through a function, which would fork a subshell), so that $! is the
# simulator itself and the cleanup can stop it by its PID.
# Its output goes to a file: a simulator left behind must not hold the test runner's pipe open.
$dev_exec /usr/bin/python3 "$sim" --if $dif --config "$config" --dir "$run" --max-seconds 600 \
    >"$run/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 200); do
    [ -e "$run/ready" ] && break
    kill -0 $sim_pid 2>/dev/null || { echo "the simulated device did not start:" >&2; cat "$run/sim.log" >&2; exit 1; }
    sleep 0.05
done
[ -e "$run/ready" ] || { echo "the simulated device did not get ready" >&2; exit 1; }

ZAVEZE_TEST_IF=$tif ZAVEZE_TEST_DIR=$run ZAVEZE_TEST_RELINK="$run/relink.sh" in_tool "$@"
status=$?
[ -s "$run/sim.log" ] && { echo "--- simulated device:" >&2; cat "$run/sim.log" >&2; }
exit $status
