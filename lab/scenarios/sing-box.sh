# sing-box: 'direct' plus sing-box as its package's service runs it (-D, -C
# with the configuration split over two files), with a TUN inbound (tun0,
# auto-route), a mixed inbound on 127.0.0.1:2080 and its controller
# (clash_api) on 127.0.0.1:9090: a browser's connection is taken by the
# tunnel, a mail client uses the mixed port.
scenario_build() {
    campus_network
    sing_box_tun
}
