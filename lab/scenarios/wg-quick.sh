# wg-quick: 'direct' plus a full-tunnel WireGuard VPN set up the way wg-quick
# does it: wg0 (10.64.0.2/32, fd64::2/128, run by a wireguard-go stand-in that
# drains it) holds the default routes of table 51820, and the rules
# `not fwmark 51820 lookup 51820` and `lookup main suppress_prefixlength 0`
# (IPv4 and IPv6) send everything there; the main table keeps its routes via
# the Ethernet gateway. DNS is systemd-resolved's: the stub 127.0.0.53, the
# campus resolvers upstream, and the VPN's resolver 10.64.0.1 installed on
# wg0's link only, as `resolvectl dns` shows it.
scenario_build() {
    campus_network
    tun_device wg0 10.64.0.2/32
    ns_batch laptop <<EOF2
addr add fd64::2/128 dev wg0 nodad
route add default dev wg0 table 51820
route add ::/0 dev wg0 table 51820
rule add not fwmark 51820 table 51820
rule add table main suppress_prefixlength 0
EOF2
    ns_ip laptop -6 -batch - <<EOF2
rule add not fwmark 51820 table 51820
rule add table main suppress_prefixlength 0
EOF2
    spawn_py laptop wireguard-go /usr/bin/wireguard-go -- wireguard-go -f wg0
    expect_carrier laptop wg0
    LAB_RESOLV=("# This is /run/systemd/resolve/stub-resolv.conf managed by man:systemd-resolved(8)."
        "nameserver 127.0.0.53" "options edns0 trust-ad" "search campus.example.edu")
    dns_server laptop dns-stub 127.0.0.53
    resolved_files
    resolvectl_standin "Link 1 (lo):" "Link @enp3s0 (enp3s0): $CAMPUS_DNS1 $CAMPUS_DNS2" \
        "Link @wlp2s0 (wlp2s0):" "Link @wg0 (wg0): 10.64.0.1"
}
