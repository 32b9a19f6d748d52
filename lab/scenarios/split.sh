# split: 'tun' with split tunnelling, the usual set-up of proxy cores on a
# campus: tun0 holds the preferred default route while the campus range
# 10.0.0.0/8 is routed via the Ethernet gateway. Campus hosts are reached
# via enp3s0 and their resolvers are not intercepted.
MIHOMO_SECRET=lab-secret-7f3a9c

scenario_build() {
    campus_network
    proxy_core_tun
    ns_batch laptop <<EOF2
route add 10.0.0.0/8 via $GW_V4 dev enp3s0
EOF2
}
