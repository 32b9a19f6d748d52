# gnome-proxy-left: 'direct' plus the GNOME system proxy a proxy GUI left on
# when it quit: http, https and socks at 127.0.0.1:7897, where nothing listens.
scenario_build() {
    campus_network
    desktop_proxy gnome
}
