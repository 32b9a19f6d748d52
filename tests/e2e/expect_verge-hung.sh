# verge-hung: 'verge-tun' with the core's controller hung: it accepts and never answers.
# Sourced by run_e2e.sh.
source "$E2E_DIR/proxy_gui.sh"
