# Shared by scripts/test and scripts/demo: building, the X server and the database cluster.
# Source it; it defines functions and registers nothing by itself.

orsa_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

orsa_build() {  # preset [target ...]: everything, or only the targets named
    local preset=$1
    shift
    cmake --preset "$preset" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" -j "$(nproc)" --target "$@"
    else
        cmake --build --preset "$preset" -j "$(nproc)"
    fi
}

# Starts Xvfb on a free display unless one is usable already; sets DISPLAY. With an authority
# file named, the server admits only clients that hold its cookie: a random one, written into
# that file (mode 600) and exported as XAUTHORITY.
orsa_start_x() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    local auth=()
    if [ -n "${1:-}" ]; then
        (umask 077 && : >"$1")
        xauth -q -f "$1" add ":$n" MIT-MAGIC-COOKIE-1 "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
        export XAUTHORITY=$1
        auth=(-auth "$1")
    fi
    Xvfb ":$n" "${auth[@]}" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    orsa_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb on $DISPLAY did not start" >&2
    return 1
}

orsa_stop_x() {
    if [ -n "${orsa_xvfb_pid:-}" ]; then
        kill "$orsa_xvfb_pid" 2>/dev/null || true
        wait "$orsa_xvfb_pid" 2>/dev/null || true
        orsa_xvfb_pid=""
    fi
}

# Starts the private PostgreSQL cluster in $1 and exports what clients need to reach it.
orsa_start_db() {
    if [ -x "$orsa_root/scripts/dbcluster" ]; then
        eval "$("$orsa_root/scripts/dbcluster" start "$1")"
        orsa_db_dir=$1
    fi
}

orsa_stop_db() {
    if [ -n "${orsa_db_dir:-}" ]; then
        "$orsa_root/scripts/dbcluster" stop "$orsa_db_dir" || true
        orsa_db_dir=""
    fi
}
