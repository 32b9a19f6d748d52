# verge-tun: Clash Verge Rev in TUN mode: the GUI runs its core as a child, the core's
# controller is only on a unix socket, the tunnel takes firefox's connection.
# Sourced by run_e2e.sh.
source "$E2E_DIR/proxy_gui.sh"
