# verge-tun: 'direct' plus Clash Verge Rev in TUN mode as it runs on a
# desktop: the GUI (clash-verge) with its core (verge-mihomo) as a child,
# the core's controller only on a unix socket (the TCP one off on purpose),
# TUN device "Mihomo" with auto-route, and a browser whose connection the
# tunnel takes.
scenario_build() {
    campus_network
    verge_gui unix
}
