# logged-out: the laptop is on the campus LAN but not logged in: the portal
# answers and its login status says "not_online_error", the campus hosts
# (10.0.0.0/8) answer, and the gateway forwards nothing else (the Internet,
# IPv4 and IPv6, is unreachable until log-in).
scenario_build() {
    PORTAL_LOGIN=logged-out
    campus_network
    ns_batch gw <<EOF2
route del default
route add 10.0.0.0/8 via $WAN_NET_V4
route del ::/0
EOF2
}
