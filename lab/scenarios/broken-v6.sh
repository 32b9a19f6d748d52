# broken-v6: 'direct' but IPv6 ends at the gateway: the laptop keeps its
# IPv6 address and default route via fe80::1 (which answers), and the
# gateway has no IPv6 route onwards, so 2400:3200::1 is unreachable.
scenario_build() {
    campus_network
    ns_ip gw -6 route del ::/0
}
