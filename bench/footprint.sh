#!/usr/bin/env bash
# Footprint of ORVELA Timer next to a plain Qt 6 tray countdown, and of the panel serving each.
#
#   bench/footprint.sh [--rounds N] [--warmup S] [--seconds S] [--hosts LIST]
#                      [--callgrind-hosts LIST] [--callgrind-warmup S] [--callgrind-seconds S]
#                      [--build DIR] [--app PATH] [--also-app NAME=PATH]... [--plan PLAN] [--tls]
#
#   --rounds N        rounds over all hosts (default 5; the ratios' median and spread need >= 5;
#                     0 runs the callgrind pass alone)
#   --warmup S        seconds every program runs before a window opens (default 15)
#   --seconds S       length of each measured window (default 60: a whole minute holds one
#                     repaint of the icon and 60 labels, as every minute of a phase does; a
#                     shorter window catches the repaint in some rounds only and spreads the ratios)
#   --hosts LIST      comma-separated, in this order each round (default xfce,gnome,panel):
#                       xfce    bench/sni-host --style xfce: Xfce 4.18 / KDE Plasma, no label, one
#                               GetAll of every property 10 ms after any change signal
#                       gnome   bench/sni-host --style gnome: GNOME's AppIndicator, the label from
#                               XAyatanaNewLabel's arguments, one Get per property a NewIcon,
#                               NewToolTip or NewTitle names
#                       panel   the real xfce4-panel (Debian's, packaged default layout); skipped
#                               with a note when it is not installed
#                       trayer  Debian's trayer, an XEmbed tray (no StatusNotifierWatcher)
#   --callgrind-hosts LIST   hosts (xfce, gnome) for the instruction count (default xfce,gnome;
#                     "none" skips it); --callgrind-warmup S (default 60) and
#                     --callgrind-seconds S (default 60) size its windows
#   --build DIR       build folder of the helpers and the default app (default build/rel;
#                     configured and built here when needed)
#   --app PATH        the orvela-timer binary to measure (default DIR/orvela-timer)
#   --also-app NAME=PATH   another orvela-timer build measured side by side under NAME (e.g. the
#                     build before a change); may be given more than once
#   --plan PLAN       the stand-in's timer plan (default work:25,rest:5: the windows stay in a
#                     work phase with whole minutes left, the common case)
#   --tls             the stand-in answers over HTTPS, as the real service does, with a
#                     certificate from a throwaway authority that is added to the system's
#                     store (/etc/ssl/certs) in a private mount namespace: every program trusts
#                     it the way it trusts a real service, with no option or variable, and
#                     loads Qt's TLS backend and libcrypto as users' do (needs root or user
#                     namespaces, and openssl)
#
# Every program gets a desktop of its own: an Xvfb display, a session bus (dbus-daemon) with
# dbus-monitor on it, a home, and in each round a fresh host of each kind on that bus. The
# programs run side by side, one stand-in service serves them all (orvela-dev-service on
# 127.0.0.1 with a running demo timer), and the order in which they start turns each round.
# Comparing programs that ran in the same window cancels most of the machine's noise; what is
# left shows in the spread over rounds. For each program and for the host serving it:
#   CPU ms/min   time on a CPU, from /proc/PID/task/*/schedstat (nanoseconds)
#   wakeups/s    context switches, voluntary + involuntary, of all threads (/proc/PID/task/*/status,
#                sampled each second, so threads that come and go count)
#   D-Bus/min    messages the process sent on its bus (any of its connections), from dbus-monitor
#   RSS0, RSS1   resident memory (VmRSS, KiB) at the window's start and end
#   ticks/min    the program's visible updates: our label signals (XAyatanaNewLabel), the Qt tray's
#                icon repaints (it counts them on stderr); 60 means it kept up
# For panel, the host is xfce4-panel's systray plugin process (a wrapper of its own).
# Then, per callgrind host, every program runs once more under valgrind's callgrind against a
# host of that kind: the counters are zeroed after the warm-up (callgrind_control -z) and dumped
# after the window (-d); instructions per minute are noise-free, and ticks/s shows whether the
# slowed-down program still kept up with the second.
# Everything runs on loopback and unix sockets and is stopped on exit.
set -euo pipefail
self=$(realpath "$0")
arguments=("$@")
cd "$(dirname "$0")/.."

rounds=5
warmup=15
seconds=60
hosts=xfce,gnome,panel
cg_hosts=xfce,gnome
cg_warmup=60
cg_seconds=60
build=build/rel
app=
plan=work:25,rest:5
tls=
also=()
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds=$2; shift 2 ;;
        --warmup) warmup=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --hosts) hosts=$2; shift 2 ;;
        --callgrind-hosts) cg_hosts=$2; shift 2 ;;
        --callgrind-warmup) cg_warmup=$2; shift 2 ;;
        --callgrind-seconds) cg_seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --app) app=$2; shift 2 ;;
        --also-app) also+=("$2"); shift 2 ;;
        --plan) plan=$2; shift 2 ;;
        --tls) tls=1; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done

# With --tls the run takes a mount namespace of its own, so that the authority it adds to the
# system's store is seen by its programs alone and goes with it.
if [ -n "$tls" ] && [ -z "${ORVELA_FOOTPRINT_NAMESPACE:-}" ]; then
    exec unshare --mount --propagation private env ORVELA_FOOTPRINT_NAMESPACE=1 "$self" "${arguments[@]}"
fi

in_range() { [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }
in_range "$rounds" 0 50 || { echo "--rounds: 0…50 (0: the callgrind pass alone)" >&2; exit 2; }
in_range "$warmup" 0 600 || { echo "--warmup: 0…600" >&2; exit 2; }
in_range "$seconds" 5 3600 || { echo "--seconds: 5…3600" >&2; exit 2; }
in_range "$cg_warmup" 5 600 || { echo "--callgrind-warmup: 5…600" >&2; exit 2; }
in_range "$cg_seconds" 5 3600 || { echo "--callgrind-seconds: 5…3600" >&2; exit 2; }
IFS=, read -r -a host_kinds <<<"$hosts"
for h in "${host_kinds[@]}"; do
    case "$h" in xfce|gnome|panel|trayer) ;; *) echo "--hosts: xfce, gnome, panel, trayer" >&2; exit 2 ;; esac
done
cg_kinds=()
[ "$cg_hosts" = none ] || IFS=, read -r -a cg_kinds <<<"$cg_hosts"
for h in "${cg_kinds[@]}"; do
    case "$h" in xfce|gnome) ;; *) echo "--callgrind-hosts: xfce, gnome or none" >&2; exit 2 ;; esac
done

# ---- what this needs: the project's packages, then the desktop pieces only this script uses
scripts/deps.sh
wanted=(xvfb x11-utils dbus coreutils procps)
[[ ,$hosts, == *,trayer,* ]] && wanted+=(trayer)
[ ${#cg_kinds[@]} -gt 0 ] && wanted+=(valgrind)
[ -n "$tls" ] && wanted+=(openssl)
missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"  # without recommends, so every machine gets the same pieces
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [[ ,$hosts, == *,panel,* ]] && ! command -v xfce4-panel >/dev/null; then
    echo "note: xfce4-panel is not installed (apt-get install xfce4-panel); the panel host is skipped"
    host_kinds=("${host_kinds[@]/panel/}")
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELA_BUILD_TESTS=ON >/dev/null
fi
targets=(orvela-dev-service sni-host qt-tray-countdown)
[ -n "$app" ] || targets+=(orvela-timer)
echo "Building ${targets[*]} in $build"
built=$(ninja -C "$build" "${targets[@]}" 2>&1) || { echo "$built" >&2; exit 1; }
app=${app:-$build/orvela-timer}
build=$(realpath "$build")

# The programs: ours, the other builds, and the Qt tray last.
names=(orvela-timer)
binaries=("$(realpath "$app")")
for entry in "${also[@]}"; do
    [[ $entry == ?*=?* ]] || { echo "--also-app wants NAME=PATH" >&2; exit 2; }
    names+=("${entry%%=*}")
    binaries+=("$(realpath "${entry#*=}")")
done
names+=(qt-tray-countdown)
binaries+=("$build/qt-tray-countdown")
for b in "${binaries[@]}"; do [ -x "$b" ] || { echo "no program at $b" >&2; exit 1; }; done
slots=${#names[@]}
qt_slot=$((slots - 1))

# ---- clean-up of everything started here
work=$(mktemp -d /tmp/orvela-footprint.XXXXXX)
started=()
groups=()
stop_pids() {
    local pid
    for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
    for pid in "$@"; do
        for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
}
stop_all() {
    stop_pids "${started[@]}"
    local group
    for group in "${groups[@]}"; do kill -- "-$group" 2>/dev/null || true; done
    started=() groups=()
}
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

wait_for_line() {  # file, tenths of a second at most, pattern
    for _ in $(seq "$2"); do
        grep -q -- "$3" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "timed out waiting for '$3' in $1" >&2
    return 1
}

# ---- the shared pieces: one X display per program, one stand-in service
unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER XDG_CURRENT_DESKTOP DESKTOP_SESSION
displays=()
x_pids=()
for ((i = 0; i < slots; i++)); do
    Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x800x24 5>"$work/display-$i" 2>"$work/xvfb-$i.log" &
    x_pids+=($!)
    wait_for_line "$work/display-$i" 100 '^[0-9]'
    displays+=(":$(head -1 "$work/display-$i")")
done
token=orvela_bench_token
serve=("$build/orvela-dev-service" --port 0 --token "$token" --plan "$plan")
scheme=http
if [ -n "$tls" ]; then
    ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1)
    openssl req -x509 "${ec[@]}" -subj /CN=orvela-bench-ca -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
    openssl req -x509 "${ec[@]}" -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
        -addext basicConstraints=CA:FALSE -CA "$work/ca.pem" -CAkey "$work/ca.key" \
        -keyout "$work/server.key" -out "$work/server.pem" 2>/dev/null
    serve+=(--tls-cert "$work/server.pem" --tls-key "$work/server.key")
    scheme=https
    # The system's store with the authority added, over the real one for this run only.
    cp -a /etc/ssl/certs "$work/certs"
    cp "$work/ca.pem" "$work/certs/orvela-bench-ca.pem"
    openssl rehash "$work/certs" 2>/dev/null
    mount --bind "$work/certs" /etc/ssl/certs
fi
"${serve[@]}" >"$work/service.log" 2>&1 &
service_pid=$!
wait_for_line "$work/service.log" 100 '^listening on 127.0.0.1:'
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/service.log" | head -1)
url=$scheme://127.0.0.1:$port
trap 'stop_all; stop_pids "$service_pid" "${x_pids[@]}"; rm -rf "$work"' EXIT

# ---- reading /proc
rss_kib() {  # summed over the pids given
    local pid key value _ total=0
    for pid in "$@"; do
        while read -r key value _; do
            [ "$key" = VmRSS: ] && total=$((total + value))
        done <"/proc/$pid/status" 2>/dev/null || true
    done
    echo "$total"
}

# Per thread, context switches and nanoseconds on a CPU (schedstat): the first value seen (0 for
# a thread born in the window) and the last, so threads that end in the window still count.
declare -A ctx_first ctx_last ns_first ns_last
sample_threads() {  # $1 pid, $2 "start" when the window opens
    local pid=$1 dir tid key value _ sum ns
    for dir in /proc/"$pid"/task/*; do
        tid=${dir##*/}
        sum=
        { while read -r key value _; do
            case "$key" in
                voluntary_ctxt_switches:|nonvoluntary_ctxt_switches:) sum=$((${sum:-0} + value)) ;;
            esac
        done <"$dir/status"; read -r ns _ <"$dir/schedstat"; } 2>/dev/null || continue
        [ -n "$sum" ] && [ -n "$ns" ] || continue
        if [ -z "${ctx_first[$pid:$tid]:-}" ]; then
            if [ "${2:-}" = start ]; then
                ctx_first[$pid:$tid]=$sum ns_first[$pid:$tid]=$ns
            else
                ctx_first[$pid:$tid]=0 ns_first[$pid:$tid]=0
            fi
        fi
        ctx_last[$pid:$tid]=$sum ns_last[$pid:$tid]=$ns
    done
}
thread_total() {  # $1 ctx or ns, then the pids
    local key total=0 pid
    local -n first=${1}_first last=${1}_last
    shift
    for pid in "$@"; do
        for key in "${!last[@]}"; do
            [[ $key == "$pid":* ]] && total=$((total + last[$key] - first[$key]))
        done
    done
    echo "$total"
}

# Unique bus names owned by any of the pids given, on the bus in DBUS_SESSION_BUS_ADDRESS.
names_of() {
    local name owner pid
    for name in $(dbus-send --session --print-reply=literal --reply-timeout=2000 \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames |
        tr -s ' ' '\n' | grep '^:'); do
        owner=$(dbus-send --session --print-reply=literal --reply-timeout=2000 \
            --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
            awk '{print $NF}') || continue
        for pid in "$@"; do [ "$owner" = "$pid" ] && printf '%s ' "$name"; done
    done
    return 0
}

# Messages in a monitor log sent by names $2 between times $3 and $4; member $5 if given.
count_sent() {
    awk -F'\t' -v names="$2" -v from="$3" -v to="$4" -v member="${5:-}" '
        BEGIN { n = split(names, list, " "); for (i = 1; i <= n; i++) mine[list[i]] = 1 }
        /^#/ { next }
        ($4 in mine) && $2 >= from && $2 < to && (member == "" || $8 == member) { count++ }
        END { print count + 0 }' "$1"
}

per_minute() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n * 60 / s }'; }
last_repaint_count() { awk '/^repaints [0-9]+/ { n = $2 } END { print n + 0 }' "$1" 2>/dev/null || echo 0; }

make_home() {  # a home of its own, with the token where the app reads it
    mkdir -p "$1/.config/orvela" "$1/.cache" "$1/.local/share" "$1/runtime"
    chmod 700 "$1" "$1/.config" "$1/.config/orvela" "$1/runtime"
    (umask 077 && printf '%s\n' "$token" >"$1/.config/orvela/token")
}

# ---- one desktop: bus, monitor, host, program (all of slot $1, in folder $2, host kind $3;
#      "$4" = valgrind to run the program under callgrind)
declare -A bus_of host_of prog_of dir_of
start_desktop() {
    local i=$1 dir=$2 kind=$3 how=${4:-}
    mkdir -p "$dir"
    make_home "$dir/home"
    dir_of[$i]=$dir
    local -a env=(env "HOME=$dir/home" "XDG_CONFIG_HOME=$dir/home/.config"
        "XDG_CACHE_HOME=$dir/home/.cache" "XDG_DATA_HOME=$dir/home/.local/share"
        "XDG_RUNTIME_DIR=$dir/home/runtime" "DISPLAY=${displays[i]}")
    [ "$kind" = panel ] && env+=(XDG_CURRENT_DESKTOP=XFCE)
    # setsid: services the bus activates (xfconfd for the panel) go with its process group.
    setsid "${env[@]}" dbus-daemon --session --nofork --print-address=6 6>"$dir/bus" >"$dir/bus.out" 2>"$dir/bus.log" &
    started+=($!) groups+=($!)
    wait_for_line "$dir/bus" 50 'unix:'
    bus_of[$i]=$(head -1 "$dir/bus")
    env+=("DBUS_SESSION_BUS_ADDRESS=${bus_of[$i]}")
    "${env[@]}" stdbuf -oL dbus-monitor --session --profile >"$dir/monitor.log" 2>"$dir/monitor.err" &
    started+=($!)
    wait_for_line "$dir/monitor.log" 50 '^#type'
    case "$kind" in
        xfce|gnome)
            "${env[@]}" "$build/sni-host" --style "$kind" >"$dir/host.log" 2>&1 &
            host_of[$i]=$! ; started+=($!)
            wait_for_line "$dir/host.log" 100 '^watching' ;;
        panel)
            mkdir -p "$dir/home/.config/xfce4/xfconf/xfce-perchannel-xml"
            cp /etc/xdg/xfce4/panel/default.xml "$dir/home/.config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
            "${env[@]}" xfce4-panel --disable-wm-check >"$dir/host.log" 2>&1 &
            host_of[$i]=$! ; started+=($!)
            # As at a login, the panel's watcher is up before the programs look for one (the
            # Qt tray would take the XEmbed tray instead, for good).
            for _ in $(seq 300); do
                "${env[@]}" dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
                    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
                    string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true && break
                sleep 0.1
            done ;;
        trayer)
            "${env[@]}" trayer --edge top --align right --widthtype request --height 24 \
                --SetDockType true --transparent false >"$dir/host.log" 2>&1 &
            host_of[$i]=$! ; started+=($!) ;;
    esac
    local -a program=("${binaries[i]}" -OrvelaURL "$url")
    if [ "$i" -eq "$qt_slot" ]; then
        program=("${binaries[i]}" --url "$url" --token "$token")
    fi
    if [ "$how" = valgrind ]; then
        program=(valgrind --tool=callgrind --vgdb=yes "--callgrind-out-file=$dir/callgrind.out"
            "${program[@]}")
    fi
    "${env[@]}" "${program[@]}" >"$dir/program.out" 2>"$dir/program.log" &
    prog_of[$i]=$! ; started+=($!)
}

# The pids that do a host's work: xfce4-panel's systray plugin runs in a wrapper process.
host_pids() {
    local host=${host_of[$1]} pid args
    if [ "$2" = panel ]; then
        while read -r pid args; do
            [[ $args == *systray* ]] && { echo "$pid"; return 0; }
        done < <(ps --ppid "$host" -o pid=,args=)
    fi
    echo "$host"
}

alive() { kill -0 "$1" 2>/dev/null; }

declare -A R  # R[round:host:slot:role:metric]
measure_run() {  # round, host kind
    local r=$1 kind=$2 i k
    for ((k = 0; k < slots; k++)); do  # the start order turns each round
        i=$(((k + r) % slots))
        start_desktop "$i" "$work/r$r-$kind-$i" "$kind"
    done
    sleep "$warmup" & wait $!
    local -A hp names_prog names_host
    for ((i = 0; i < slots; i++)); do
        alive "${prog_of[$i]}" || { echo "${names[i]} exited during the warm-up; its log:" >&2; cat "${dir_of[$i]}/program.log" >&2; return 1; }
        alive "${host_of[$i]}" || { echo "the $kind host of ${names[i]} exited; its log:" >&2; cat "${dir_of[$i]}/host.log" >&2; return 1; }
        hp[$i]=$(host_pids "$i" "$kind")
        names_prog[$i]=$(DBUS_SESSION_BUS_ADDRESS=${bus_of[$i]} names_of "${prog_of[$i]}")
        # shellcheck disable=SC2086
        names_host[$i]=$(DBUS_SESSION_BUS_ADDRESS=${bus_of[$i]} names_of ${hp[$i]})
    done
    ctx_first=() ctx_last=() ns_first=() ns_last=()
    local t0 t1 span
    local -A rss0 rss0h rep0
    t0=$(date +%s.%N)
    for ((i = 0; i < slots; i++)); do
        rss0[$i]=$(rss_kib "${prog_of[$i]}")
        # shellcheck disable=SC2086
        rss0h[$i]=$(rss_kib ${hp[$i]})
        rep0[$i]=$(last_repaint_count "${dir_of[$i]}/program.log")
        sample_threads "${prog_of[$i]}" start
        for k in ${hp[$i]}; do sample_threads "$k" start; done
    done
    local end_at=$(($(date +%s) + seconds))
    while [ "$(date +%s)" -lt "$end_at" ]; do
        sleep 1
        for ((i = 0; i < slots; i++)); do
            alive "${prog_of[$i]}" || { echo "${names[i]} exited during the window ($kind)" >&2; return 1; }
            sample_threads "${prog_of[$i]}"
            for k in ${hp[$i]}; do sample_threads "$k"; done
        done
    done
    t1=$(date +%s.%N)
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    local -A rep1
    for ((i = 0; i < slots; i++)); do rep1[$i]=$(last_repaint_count "${dir_of[$i]}/program.log"); done
    sleep 1  # let the monitors write out the window's last messages
    local key ticks
    for ((i = 0; i < slots; i++)); do
        key=$r:$kind:$i
        R[$key:prog:cpu]=$(awk -v n="$(thread_total ns "${prog_of[$i]}")" -v s="$span" 'BEGIN { printf "%.1f", n / 1e6 * 60 / s }')
        R[$key:prog:wake]=$(awk -v n="$(thread_total ctx "${prog_of[$i]}")" -v s="$span" 'BEGIN { printf "%.2f", n / s }')
        R[$key:prog:bus]=$(per_minute "$(count_sent "${dir_of[$i]}/monitor.log" "${names_prog[$i]}" "$t0" "$t1")" "$span")
        R[$key:prog:rss0]=${rss0[$i]}
        R[$key:prog:rss1]=$(rss_kib "${prog_of[$i]}")
        cp "/proc/${prog_of[$i]}/smaps" "$work/smaps-$kind-$i" 2>/dev/null || true  # the last round's stays
        # shellcheck disable=SC2086
        R[$key:host:cpu]=$(awk -v n="$(thread_total ns ${hp[$i]})" -v s="$span" 'BEGIN { printf "%.1f", n / 1e6 * 60 / s }')
        # shellcheck disable=SC2086
        R[$key:host:wake]=$(awk -v n="$(thread_total ctx ${hp[$i]})" -v s="$span" 'BEGIN { printf "%.2f", n / s }')
        R[$key:host:bus]=$(per_minute "$(count_sent "${dir_of[$i]}/monitor.log" "${names_host[$i]}" "$t0" "$t1")" "$span")
        R[$key:host:rss0]=${rss0h[$i]}
        # shellcheck disable=SC2086
        R[$key:host:rss1]=$(rss_kib ${hp[$i]})
        if [ "$i" -eq "$qt_slot" ]; then
            ticks=$((rep1[$i] - rep0[$i]))
        else
            ticks=$(count_sent "${dir_of[$i]}/monitor.log" "${names_prog[$i]}" "$t0" "$t1" XAyatanaNewLabel)
        fi
        R[$key:prog:ticks]=$(per_minute "$ticks" "$span")
        printf '   %-2s %-7s %-20s %8s %9s %9s %9s %9s %9s | %8s %9s %9s %9s %9s\n' "$r" "$kind" "${names[i]}" \
            "${R[$key:prog:cpu]}" "${R[$key:prog:wake]}" "${R[$key:prog:bus]}" "${R[$key:prog:rss0]}" \
            "${R[$key:prog:rss1]}" "${R[$key:prog:ticks]}" "${R[$key:host:cpu]}" "${R[$key:host:wake]}" \
            "${R[$key:host:bus]}" "${R[$key:host:rss0]}" "${R[$key:host:rss1]}"
    done
    stop_all
}

# "median (min–max)" of the numbers given.
spread() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.2f (%.2f–%.2f)", m, v[1], v[NR] }'
}
highest() { printf '%s\n' "$@" | sort -g | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 999) }'; }

# ---- the callgrind pass: instructions per minute, and whether the program kept up
callgrind_run() {  # host kind
    local kind=$1 i
    for ((i = 0; i < slots; i++)); do start_desktop "$i" "$work/cg-$kind-$i" "$kind" valgrind; done
    sleep "$cg_warmup" & wait $!
    local -A names_prog rep0
    for ((i = 0; i < slots; i++)); do
        alive "${prog_of[$i]}" || { echo "${names[i]} exited under valgrind; its log:" >&2; tail -20 "${dir_of[$i]}/program.log" >&2; return 1; }
        names_prog[$i]=$(DBUS_SESSION_BUS_ADDRESS=${bus_of[$i]} names_of "${prog_of[$i]}")
    done
    local t0 t1 span
    t0=$(date +%s.%N)
    for ((i = 0; i < slots; i++)); do
        callgrind_control -z "${prog_of[$i]}" >"${dir_of[$i]}/control.log" 2>&1 || echo "callgrind_control -z failed for ${names[i]}" >&2
        rep0[$i]=$(last_repaint_count "${dir_of[$i]}/program.log")
    done
    sleep "$cg_seconds" & wait $!
    local -A rep1
    for ((i = 0; i < slots; i++)); do
        callgrind_control -d "${prog_of[$i]}" >>"${dir_of[$i]}/control.log" 2>&1 || echo "callgrind_control -d failed for ${names[i]}" >&2
        rep1[$i]=$(last_repaint_count "${dir_of[$i]}/program.log")
    done
    t1=$(date +%s.%N)
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    sleep 2
    local ir ticks dump
    for ((i = 0; i < slots; i++)); do
        dump=$(ls -t "${dir_of[$i]}"/callgrind.out.* 2>/dev/null | head -1)
        ir=$(awk '/^(summary|totals):/ { print $2; exit }' "${dump:-/dev/null}")
        if [ "$i" -eq "$qt_slot" ]; then
            ticks=$((rep1[$i] - rep0[$i]))
        else
            ticks=$(count_sent "${dir_of[$i]}/monitor.log" "${names_prog[$i]}" "$t0" "$t1" XAyatanaNewLabel)
        fi
        R[cg:$kind:$i:ir]=$(awk -v n="${ir:-0}" -v s="$span" 'BEGIN { printf "%.0f", n * 60 / s }')
        R[cg:$kind:$i:ticks]=$(awk -v n="$ticks" -v s="$span" 'BEGIN { printf "%.2f", n / s }')
        printf '   %-7s %-20s %16s %10s%s\n' "$kind" "${names[i]}" "${R[cg:$kind:$i:ir]}" "${R[cg:$kind:$i:ticks]}" \
            "$(awk -v t="${R[cg:$kind:$i:ticks]}" 'BEGIN { if (t < 0.9) printf "   (fell behind: not comparable)" }')"
    done
    stop_all
}

began=$(date +%s)
echo "ORVELA Timer footprint, $(date -u '+%F %T UTC'), $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 0; i < slots; i++)); do echo "   ${names[i]}: ${binaries[i]}"; done
echo "   stand-in $url, plan $plan; $rounds rounds of ${warmup} s warm-up + ${seconds} s window per host"
echo
printf '   %-2s %-7s %-20s %8s %9s %9s %9s %9s %9s | %8s %9s %9s %9s %9s\n' "" "" "" "program:" "" "" "" "" "" "its host:" "" "" "" ""
printf '   %-2s %-7s %-20s %8s %9s %9s %9s %9s %9s | %8s %9s %9s %9s %9s\n' rd host program "CPU ms/m" wakeups/s \
    "D-Bus/min" "RSS0 KiB" "RSS1 KiB" ticks/min "CPU ms/m" wakeups/s "D-Bus/min" "RSS0 KiB" "RSS1 KiB"
active_hosts=()
for h in "${host_kinds[@]}"; do [ -n "$h" ] && active_hosts+=("$h"); done
for ((r = 1; r <= rounds; r++)); do
    for h in "${active_hosts[@]}"; do measure_run "$r" "$h"; done
done

[ "$rounds" -gt 0 ] && echo
[ "$rounds" -gt 0 ] && echo "== ratios to qt-tray-countdown over $rounds rounds: median (min–max); a target is met when the whole spread is on its side"
for h in "${active_hosts[@]}"; do
    [ "$rounds" -gt 0 ] || break
    for ((i = 0; i < qt_slot; i++)); do
        cpu=() wake=() rss=() hcpu=() growth=() hmine=()
        for ((r = 1; r <= rounds; r++)); do
            o=$r:$h:$i q=$r:$h:$qt_slot
            cpu+=("$(ratio "${R[$o:prog:cpu]}" "${R[$q:prog:cpu]}")")
            wake+=("$(ratio "${R[$o:prog:wake]}" "${R[$q:prog:wake]}")")
            rss+=("$(ratio "${R[$o:prog:rss1]}" "${R[$q:prog:rss1]}")")
            hcpu+=("$(ratio "${R[$o:host:cpu]}" "${R[$q:host:cpu]}")")
            hmine+=("${R[$o:host:cpu]}")
            growth+=("$((R[$o:prog:rss1] - R[$o:prog:rss0]))")
        done
        verdict() { awk -v top="$(highest "${@:2}")" -v limit="$1" 'BEGIN { print (top <= limit ? "met" : "NOT met") }'; }
        echo "   $h, ${names[i]}:"
        echo "      CPU              $(spread "${cpu[@]}")   target <= 0.5: $(verdict 0.5 "${cpu[@]}")"
        echo "      wakeups          $(spread "${wake[@]}")   target <= 1: $(verdict 1 "${wake[@]}")"
        echo "      RSS at the end   $(spread "${rss[@]}")   target <= 1: $(verdict 1 "${rss[@]}")"
        echo "      RSS growth over a window: $(spread "${growth[@]}") KiB"
        echo "      the host's CPU serving it: $(spread "${hmine[@]}") ms/min, against serving the Qt tray $(spread "${hcpu[@]}")"
    done
done

# Resident KiB per mapped file (anonymous memory, heap and stack by name) at the end of the
# last window on the first host: where each build's memory differs from the Qt tray's.
rss_by_mapping() {
    awk '/^[0-9a-f]+-[0-9a-f]+ / { name = NF >= 6 ? $6 : "[anon]"; sub(/.*\//, "", name); next }
         $1 == "Rss:" { kib[name] += $2 }
         END { for (n in kib) print n, kib[n] }' "$1"
}
if [ "$rounds" -gt 0 ] && [ -f "$work/smaps-${active_hosts[0]}-$qt_slot" ]; then
    echo
    echo "== resident memory by mapping, ${active_hosts[0]} host, round $rounds: KiB where a build and the Qt tray differ by 40 or more"
    for ((i = 0; i < qt_slot; i++)); do
        echo "   ${names[i]} against qt-tray-countdown:"
        join -a1 -a2 -e 0 -o 0,1.2,2.2 <(rss_by_mapping "$work/smaps-${active_hosts[0]}-$i" | sort) \
            <(rss_by_mapping "$work/smaps-${active_hosts[0]}-$qt_slot" | sort) |
            awk '{ d = $2 - $3; if (d >= 40 || d <= -40) printf "      %-40s %7d %7d %+7d\n", $1, $2, $3, d }' |
            sort -k4 -g -r
    done
fi

if [ ${#cg_kinds[@]} -gt 0 ]; then
    echo
    echo "== callgrind: instructions per minute over a ${cg_seconds} s window after ${cg_warmup} s under valgrind"
    printf '   %-7s %-20s %16s %10s\n' host program "instr/min" ticks/s
    for h in "${cg_kinds[@]}"; do callgrind_run "$h"; done
    for h in "${cg_kinds[@]}"; do
        for ((i = 0; i < qt_slot; i++)); do
            echo "   $h, ${names[i]} / qt-tray-countdown: $(ratio "${R[cg:$h:$i:ir]}" "${R[cg:$h:$qt_slot:ir]}")"
        done
    done
fi
echo
echo "run time: $(( ($(date +%s) - began) / 60 )) min $(( ($(date +%s) - began) % 60 )) s"
