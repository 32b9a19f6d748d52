# wireguard: 'direct' plus a WireGuard VPN holding the preferred IPv4 default
# route: wg0 with 10.64.0.2/32 and `default dev wg0 metric 10`, run by a
# userspace wireguard-go stand-in. This kernel has no wireguard links, so wg0
# is a tun device (its link kind is "tun"), as wireguard-go makes it; the
# stand-in drains it, so traffic routed there gets no answer.
scenario_build() {
    campus_network
    tun_device wg0 10.64.0.2/32
    ns_batch laptop <<<"route add default dev wg0 metric 10"
    spawn_py laptop wireguard-go /usr/bin/wireguard-go -- wireguard-go -f wg0
    expect_carrier laptop wg0
}
