# sing-box: sing-box with its TUN, a mixed inbound and its controller (clash_api):
# the tunnel takes firefox's connection, thunderbird uses the mixed port.
# Sourced by run_e2e.sh.
source "$E2E_DIR/proxy_gui.sh"
