#!/usr/bin/env bash
# Footprint of ORVELA Timer next to a plain Qt 6 tray countdown, on a private desktop.
#
#   bench/footprint.sh [--seconds N] [--warmup N] [--scenario sni|xembed|both]
#                      [--build DIR] [--app PATH] [--plan PLAN]
#
#   --seconds N   length of the measured window (default 60)
#   --warmup N    seconds both programs run before the window opens (default 20)
#   --scenario    sni: a StatusNotifierItem panel (bench/sni-host); xembed: the XEmbed tray
#                 `trayer`; both (default) runs one after the other
#   --build DIR   build folder of the helpers and the default app (default build/rel; configured
#                 and built here when needed)
#   --app PATH    the orvela-timer binary to measure (default DIR/orvela-timer)
#   --plan PLAN   the stand-in's timer plan (default work:25,rest:5: the window stays in a work
#                 phase with whole minutes left, the common case)
#
# Per scenario it starts a fresh session bus (dbus-daemon), the panel side, dbus-monitor, our app
# and bench/qt-tray-countdown side by side against one stand-in service (orvela-dev-service on
# 127.0.0.1 with a running demo timer), all on one Xvfb display, and prints for each program:
#   RSS          resident memory at the window's start and end (VmRSS), and its growth
#   CPU ms/min   utime+stime from /proc/PID/stat over the window (10 ms ticks: coarse)
#   sched ms/min time on a CPU from /proc/PID/task/*/schedstat (nanoseconds; the targets use it)
#   wakeups/s    context switches, voluntary + involuntary, summed over all threads from
#                /proc/PID/task/*/status (sampled each second, so threads that come and go count);
#                (invol.) is the involuntary part, which grows when other work shares the CPUs
#   D-Bus/min    messages the program sent on the bus (any of its connections), from dbus-monitor
#   NewIcon/min  NewIcon signals the program emitted
#   repaints/min icon images drawn: ours emits NewIcon for each (on either tray); the Qt tray
#                counts its setIcon calls on stderr
# Everything runs on loopback and unix sockets and is stopped on exit.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
warmup=20
scenario=both
build=build/rel
app=
plan=work:25,rest:5
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --warmup) warmup=$2; shift 2 ;;
        --scenario) scenario=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --app) app=$2; shift 2 ;;
        --plan) plan=$2; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done
[[ $seconds =~ ^[0-9]+$ && $seconds -ge 5 && $seconds -le 3600 ]] || { echo "--seconds: 5…3600" >&2; exit 2; }
[[ $warmup =~ ^[0-9]+$ && $warmup -le 600 ]] || { echo "--warmup: 0…600" >&2; exit 2; }
case "$scenario" in sni) scenarios=(sni) ;; xembed) scenarios=(xembed) ;; both) scenarios=(sni xembed) ;;
    *) echo "--scenario: sni, xembed or both" >&2; exit 2 ;; esac

# ---- what this needs: the project's packages, then the desktop pieces only this script uses
scripts/deps.sh
wanted=(xvfb trayer x11-utils dbus coreutils)
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

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELA_BUILD_TESTS=ON >/dev/null
fi
targets=(orvela-dev-service sni-host qt-tray-countdown)
[ -n "$app" ] || targets+=(orvela-timer)
echo "Building ${targets[*]} in $build"
built=$(ninja -C "$build" "${targets[@]}" 2>&1) || { echo "$built" >&2; exit 1; }
app=${app:-$build/orvela-timer}
[ -x "$app" ] || { echo "no app binary at $app" >&2; exit 1; }
app=$(realpath "$app")
build=$(realpath "$build")

# ---- clean-up of everything started here
work=$(mktemp -d /tmp/orvela-footprint.XXXXXX)
started=()
stop_all() {
    local pid
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do
        pid=${started[i]}
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started[@]}"; do
        for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    started=()
}
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Waits (at most $2 tenths of a second) until the file $1 holds a line matching $3.
wait_for_line() {
    for _ in $(seq "$2"); do
        grep -q -- "$3" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "timed out waiting for '$3' in $1" >&2
    return 1
}

# ---- the shared pieces: one X display, one stand-in service
Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x800x24 5>"$work/display" 2>"$work/xvfb.log" &
started+=($!)
wait_for_line "$work/display" 100 '^[0-9]'
export DISPLAY=:$(head -1 "$work/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER XDG_CURRENT_DESKTOP DESKTOP_SESSION
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

token=orvela_bench_token
"$build/orvela-dev-service" --port 0 --token "$token" --plan "$plan" >"$work/service.log" 2>&1 &
started+=($!)
shared=${#started[@]}
wait_for_line "$work/service.log" 100 '^listening on 127.0.0.1:'
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/service.log" | head -1)
url=http://127.0.0.1:$port

make_home() {  # a home of its own, with the token where the app reads it
    mkdir -p "$1/.config/orvela"
    chmod 700 "$1" "$1/.config" "$1/.config/orvela"
    (umask 077 && printf '%s\n' "$token" >"$1/.config/orvela/token")
}

clk_tck=$(getconf CLK_TCK)

cpu_ticks() {  # utime + stime of the whole process (threads that ended included)
    local line rest
    read -r line <"/proc/$1/stat" || return 1
    rest=${line##*) }
    # shellcheck disable=SC2086
    set -- $rest
    echo $((${12} + ${13}))
}

rss_kib() {
    local key value _
    while read -r key value _; do
        [ "$key" = VmRSS: ] && { echo "$value"; return 0; }
    done <"/proc/$1/status"
    return 1
}

# Per thread, context switches and nanoseconds on a CPU (schedstat): the first value seen (0 for
# a thread born in the window) and the last, so threads that end in the window still count.
declare -A ctx_first ctx_last ns_first ns_last inv_first inv_last
sample_threads() {  # $1 pid, $2 "start" when the window opens
    local pid=$1 dir tid key value _ sum ns inv
    for dir in /proc/"$pid"/task/*; do
        tid=${dir##*/}
        sum= inv=
        { while read -r key value _; do
            case "$key" in
                voluntary_ctxt_switches:) sum=$((${sum:-0} + value)) ;;
                nonvoluntary_ctxt_switches:) sum=$((${sum:-0} + value)) inv=$value ;;
            esac
        done <"$dir/status"; read -r ns _ <"$dir/schedstat"; } 2>/dev/null || continue
        [ -n "$sum" ] && [ -n "$ns" ] || continue
        if [ -z "${ctx_first[$pid:$tid]:-}" ]; then
            if [ "${2:-}" = start ]; then
                ctx_first[$pid:$tid]=$sum ns_first[$pid:$tid]=$ns inv_first[$pid:$tid]=$inv
            else
                ctx_first[$pid:$tid]=0 ns_first[$pid:$tid]=0 inv_first[$pid:$tid]=0
            fi
        fi
        ctx_last[$pid:$tid]=$sum ns_last[$pid:$tid]=$ns inv_last[$pid:$tid]=$inv
    done
}
thread_total() {  # $1 ctx, inv or ns, $2 pid
    local key total=0
    local -n first=${1}_first last=${1}_last
    for key in "${!last[@]}"; do
        [[ $key == "$2":* ]] && total=$((total + last[$key] - first[$key]))
    done
    echo "$total"
}

# Names of the windows docked in trayer (XEmbed clients are children of its "panel" window).
docked_in_trayer() {
    xwininfo -root -tree 2>/dev/null | awk '
        /"panel": \("panel" "trayer"\)/ { match($0, /^ */); base = RLENGTH; inside = 1; next }
        inside && NF { match($0, /^ */); if (RLENGTH <= base) { inside = 0; next }
            if (match($0, /"[^"]+": \("/)) { name = substr($0, RSTART + 1); sub(/".*/, "", name); print name } }' |
        sort -u | tr '\n' ' '
}

bus_call() {
    dbus-send --session --print-reply=literal --reply-timeout=2000 --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus "org.freedesktop.DBus.$1" "${@:2}"
}

# Unique bus names owned by process $1 (a Qt program may hold more than one connection).
names_of() {
    local name owner
    for name in $(bus_call ListNames | tr -s ' ' '\n' | grep '^:'); do
        owner=$(bus_call GetConnectionUnixProcessID "string:$name" 2>/dev/null | awk '{print $NF}') || continue
        [ "$owner" = "$1" ] && printf '%s ' "$name"
    done
    return 0
}

# Messages in the monitor log sent by names $2 between times $3 and $4; member $5 if given.
count_sent() {
    awk -F'\t' -v names="$2" -v from="$3" -v to="$4" -v member="${5:-}" '
        BEGIN { n = split(names, list, " "); for (i = 1; i <= n; i++) mine[list[i]] = 1 }
        /^#/ { next }
        ($4 in mine) && $2 >= from && $2 < to && (member == "" || $8 == member) { count++ }
        END { print count + 0 }' "$1"
}

per_minute() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n * 60 / s }'; }

last_repaint_count() { grep -o '^repaints [0-9]*' "$1" 2>/dev/null | tail -1 | awk '{print $2 + 0}'; }

run_scenario() {
    local kind=$1 dir=$work/$1
    mkdir -p "$dir"
    dbus-daemon --session --nofork --print-address=6 6>"$dir/bus" 2>"$dir/bus.log" &
    started+=($!)
    wait_for_line "$dir/bus" 50 'unix:'
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$dir/bus")

    stdbuf -oL dbus-monitor --session --profile >"$dir/monitor.log" 2>"$dir/monitor.err" &
    started+=($!)
    wait_for_line "$dir/monitor.log" 50 '^#type'

    local panel
    if [ "$kind" = sni ]; then
        "$build/sni-host" >"$dir/host.log" 2>&1 &
        started+=($!)
        wait_for_line "$dir/host.log" 100 '^watching'
        panel="bench/sni-host: StatusNotifierWatcher + host; each change signal -> one GetAll 10 ms later (Xfce 4.18 style), XAyatanaNewLabel args used as sent"
    else
        trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
            --transparent false >"$dir/trayer.log" 2>&1 &
        started+=($!)
        for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.1; done
        sleep 0.5
        panel="trayer $(dpkg-query -W -f='${Version}' trayer): XEmbed system tray, no StatusNotifierWatcher on the bus"
    fi

    make_home "$dir/home-app"
    make_home "$dir/home-qt"
    HOME=$dir/home-app XDG_CONFIG_HOME=$dir/home-app/.config \
        "$app" -OrvelaURL "$url" >"$dir/app.log" 2>&1 &
    local ours=$!
    started+=($ours)
    HOME=$dir/home-qt XDG_CONFIG_HOME=$dir/home-qt/.config \
        "$build/qt-tray-countdown" --url "$url" --token "$token" 2>"$dir/qt.log" >/dev/null &
    local theirs=$!
    started+=($theirs)

    sleep "$warmup" & wait $!  # in the background, so that a signal ends the wait at once
    local pid
    for pid in "$ours" "$theirs"; do
        kill -0 "$pid" 2>/dev/null || { echo "a program exited during the warm-up ($kind); its log:" >&2; cat "$dir/app.log" "$dir/qt.log" >&2; return 1; }
    done
    local names_ours names_theirs
    names_ours=$(names_of "$ours")
    names_theirs=$(names_of "$theirs")

    # ---- the window
    local t0 t1 cpu0_o cpu0_t rss0_o rss0_t rep0 max_o=0 max_t=0 r
    ctx_first=() ctx_last=() ns_first=() ns_last=() inv_first=() inv_last=()
    t0=$(date +%s.%N)
    cpu0_o=$(cpu_ticks "$ours"); cpu0_t=$(cpu_ticks "$theirs")
    rss0_o=$(rss_kib "$ours"); rss0_t=$(rss_kib "$theirs")
    rep0=$(last_repaint_count "$dir/qt.log")
    sample_threads "$ours" start; sample_threads "$theirs" start
    local end_at=$(( $(date +%s) + seconds ))
    while [ "$(date +%s)" -lt "$end_at" ]; do
        sleep 1
        for pid in "$ours" "$theirs"; do
            kill -0 "$pid" 2>/dev/null || { echo "a program exited during the window ($kind)" >&2; return 1; }
        done
        sample_threads "$ours"; sample_threads "$theirs"
        r=$(rss_kib "$ours"); [ "$r" -gt "$max_o" ] && max_o=$r
        r=$(rss_kib "$theirs"); [ "$r" -gt "$max_t" ] && max_t=$r
    done
    t1=$(date +%s.%N)
    local cpu1_o cpu1_t rss1_o rss1_t rep1
    cpu1_o=$(cpu_ticks "$ours"); cpu1_t=$(cpu_ticks "$theirs")
    rss1_o=$(rss_kib "$ours"); rss1_t=$(rss_kib "$theirs")
    rep1=$(last_repaint_count "$dir/qt.log")
    local span
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    sleep 1  # let dbus-monitor write out the window's last messages

    # ---- the table
    local sni_o=no sni_t=no
    grep -q "^registered ${names_ours%% *} " "$dir/host.log" 2>/dev/null && sni_o=yes
    for r in $names_theirs; do grep -q "^registered $r " "$dir/host.log" 2>/dev/null && sni_t=yes; done
    echo
    echo "== scenario: $kind — ${span} s window after ${warmup} s warm-up"
    echo "   panel: $panel"
    if [ "$kind" = sni ]; then
        echo "   registered with the watcher: orvela-timer $sni_o, qt-tray-countdown $sni_t"
    else
        echo "   windows docked in trayer: $(docked_in_trayer)"
    fi
    printf '   %-18s %9s %9s %8s %10s %12s %9s %8s %9s %11s %12s\n' program "RSS0 KiB" "RSS1 KiB" "max KiB" \
        "CPU ms/min" "sched ms/min" wakeups/s "(invol.)" D-Bus/min NewIcon/min repaints/min
    local label pid cpu0 cpu1 rss0 rss1 max names cpu_ms sched_ms wakeups involuntary msgs icons repaints
    declare -gA result
    for label in orvela-timer qt-tray-countdown; do
        if [ "$label" = orvela-timer ]; then
            pid=$ours cpu0=$cpu0_o cpu1=$cpu1_o rss0=$rss0_o rss1=$rss1_o max=$max_o names=$names_ours
        else
            pid=$theirs cpu0=$cpu0_t cpu1=$cpu1_t rss0=$rss0_t rss1=$rss1_t max=$max_t names=$names_theirs
        fi
        cpu_ms=$(awk -v d="$((cpu1 - cpu0))" -v hz="$clk_tck" -v s="$span" 'BEGIN { printf "%.0f", d * 1000 / hz * 60 / s }')
        sched_ms=$(awk -v n="$(thread_total ns "$pid")" -v s="$span" 'BEGIN { printf "%.1f", n / 1e6 * 60 / s }')
        wakeups=$(awk -v n="$(thread_total ctx "$pid")" -v s="$span" 'BEGIN { printf "%.2f", n / s }')
        involuntary=$(awk -v n="$(thread_total inv "$pid")" -v s="$span" 'BEGIN { printf "%.2f", n / s }')
        msgs=$(per_minute "$(count_sent "$dir/monitor.log" "$names" "$t0" "$t1")" "$span")
        icons=$(per_minute "$(count_sent "$dir/monitor.log" "$names" "$t0" "$t1" NewIcon)" "$span")
        if [ "$label" = orvela-timer ]; then repaints=$icons; else repaints=$(per_minute "$((rep1 - rep0))" "$span"); fi
        printf '   %-18s %9s %9s %8s %10s %12s %9s %8s %9s %11s %12s\n' "$label" "$rss0" "$rss1" "$max" \
            "$cpu_ms" "$sched_ms" "$wakeups" "$involuntary" "$msgs" "$icons" "$repaints"
        result[$kind:$label:cpu]=$sched_ms result[$kind:$label:wakeups]=$wakeups
        result[$kind:$label:growth]=$((rss1 - rss0))
    done
    local o=$kind:orvela-timer t=$kind:qt-tray-countdown
    awk -v co="${result[$o:cpu]}" -v ct="${result[$t:cpu]}" -v wo="${result[$o:wakeups]}" \
        -v wt="${result[$t:wakeups]}" -v g="${result[$o:growth]}" 'BEGIN {
        printf "   targets: CPU ours <= half the Qt tray: %s (%.1f vs %.1f sched ms/min); ", (co <= ct / 2 ? "met" : "NOT met"), co, ct
        printf "wakeups ours <= Qt tray: %s (%.2f vs %.2f /s); ", (wo <= wt ? "met" : "NOT met"), wo, wt
        printf "RSS growth ours: %+d KiB\n", g }'

    # The scenario's own pieces go; Xvfb and the stand-in stay for the next one.
    local keep=("${started[@]:0:$shared}") pid_done
    for pid_done in "${started[@]:$shared}"; do kill "$pid_done" 2>/dev/null || true; done
    for pid_done in "${started[@]:$shared}"; do
        for _ in $(seq 30); do kill -0 "$pid_done" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid_done" 2>/dev/null || true
    done
    started=("${keep[@]}")
}

echo "ORVELA Timer footprint: $app"
echo "   against qt-tray-countdown (QSystemTrayIcon, mm:ss repainted each second, GET every 15 s)"
echo "   stand-in $url, plan $plan; Xvfb $DISPLAY; $(nproc) CPUs; $(date -u '+%F %T UTC')"
echo "   wakeups/s = voluntary + involuntary context switches of all threads per second"
echo "   load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in "${scenarios[@]}"; do run_scenario "$kind"; done
