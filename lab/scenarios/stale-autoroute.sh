# stale-autoroute: what a proxy core with auto-route leaves behind when it is
# killed: tun0 (198.18.0.1/30, persistent, no process attached, so no
# carrier) still holds the default route of table 2022 and the rules from
# priority 9000 still send everything there; the main table is untouched.
# No proxy process runs.
TUN_ROUTE=auto-route

scenario_build() {
    campus_network
    ns_batch laptop <<EOF2
tuntap add dev tun0 mode tun
link set tun0 up
addr add 198.18.0.1/30 dev tun0
EOF2
    tun_default_route tun0
}
