# offline: the laptop is configured as in 'direct', but the gateway never
# answers (its LAN side is up without addresses and without IPv6: no ARP or
# neighbour replies), so pings, DNS and connections time out.
scenario_build() {
    gateway_silent
    laptop_wired gw
    gateway_silent_up
    resolv_campus
}
