# verge-tcp: 'verge-tun' with the core's TCP controller on as well, and thunderbird
# using the mixed port.
# Sourced by run_e2e.sh.
source "$E2E_DIR/proxy_gui.sh"
