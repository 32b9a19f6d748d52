# stale-autoroute: what a proxy core with auto-route leaves behind when it is
# killed: tun0 (198.18.0.1/30, persistent, no process attached, so no
# carrier) still holds the default route of table 2022 and the rules from
# priority 9000 still send everything there; the main table is untouched.
# No proxy process runs.
TUN_ROUTE=auto-route

scenario_build() {
    campus_network
    tun_device tun0 198.18.0.1/30
    tun_default_route tun0
}
