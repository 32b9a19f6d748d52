# autoroute: 'tun' as a proxy core sets it up with auto-route (mihomo,
# sing-box): tun0's default route is in table 2022, reached through rules
# from priority 9000 on (the tunnel's own range, the main table less its
# default routes, then table 2022); the main table keeps only the Ethernet
# default route.
MIHOMO_SECRET=lab-secret-7f3a9c
TUN_ROUTE=auto-route

scenario_build() {
    campus_network
    proxy_core_tun
}
