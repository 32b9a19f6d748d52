# tun: 'direct' plus a proxy core (mihomo stand-in) attached to tun0, which
# holds the preferred IPv4 default route (metric 10); resolv.conf lists the
# core's DNS address 198.18.0.2 first. A firefox stand-in keeps a tunnel open
# through the mixed port 127.0.0.1:7890; the controller is on 127.0.0.1:9090.
# A second, idle core (clash stand-in, started after mihomo) names a
# controller on another host and a secret on its command line: a diagnosis
# must neither contact that controller nor reveal the secret.
MIHOMO_SECRET=lab-secret-7f3a9c
CLASH_REMOTE_CONTROLLER=203.0.113.9:9090
CLASH_SECRET=lab-cmdline-secret-31c4

scenario_build() {
    campus_network
    proxy_core_tun
    spawn_py laptop clash clash -- clash -ext-ctl "$CLASH_REMOTE_CONTROLLER" \
        -secret "$CLASH_SECRET" -d /nonexistent
    LAB_WAITS+=("check_comm laptop clash")
}

# check_comm ROLE NAME: some process in that namespace has renamed itself NAME
# (a stand-in is only recognisable once it has set /proc/PID/comm).
check_comm() {
    local p c
    for p in $(ip netns pids "$(ns "$1")"); do
        c=$(cat "/proc/$p/comm" 2>/dev/null) || continue
        [[ $c == "$2" ]] && return 0
    done
    return 1
}

# scenario_capture OUTDIR: also save the controller's answers.
scenario_capture() {
    on_laptop "$LAB_PYTHON" "$LAB_HOME/lib/capture_controller.py" "$1" "$MIHOMO_SECRET" </dev/null
}
