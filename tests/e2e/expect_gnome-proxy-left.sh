# gnome-proxy-left: the GNOME system proxy a proxy GUI left on names 127.0.0.1:7897, where
# nothing listens; everything else is as in direct. Sourced by run_e2e.sh.
source "$E2E_DIR/system_proxy_left.sh"
