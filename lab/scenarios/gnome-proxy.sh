# gnome-proxy: 'direct' plus a working GNOME system proxy: the GUI's core
# listens on the mixed port 127.0.0.1:7897 the setting names.
scenario_build() {
    campus_network
    desktop_proxy gnome
    gui_core_7897
}
