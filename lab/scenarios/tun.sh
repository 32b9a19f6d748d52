# tun: 'direct' plus a proxy core (mihomo stand-in) attached to tun0, which
# holds the preferred IPv4 default route (metric 10); resolv.conf lists the
# core's DNS address 198.18.0.2 first. A firefox stand-in keeps a tunnel open
# through the mixed port 127.0.0.1:7890; the controller is on 127.0.0.1:9090.
MIHOMO_SECRET=lab-secret-7f3a9c

scenario_build() {
    campus_network
    proxy_core_tun
}

# scenario_capture OUTDIR: also save the controller's answers.
scenario_capture() {
    on_laptop "$LAB_PYTHON" "$LAB_HOME/lib/capture_controller.py" "$1" "$MIHOMO_SECRET" </dev/null
}
