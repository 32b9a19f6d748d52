# kde-proxy-left: 'direct' plus the KDE system proxy (kioslaverc) a proxy GUI
# left on when it quit: 127.0.0.1:7897, where nothing listens.
scenario_build() {
    campus_network
    desktop_proxy kde
}
