# broken-dns: 'direct' but the campus resolvers (the laptop's DNS servers)
# do not run: their addresses answer ping, port 53 answers nothing, while the
# Internet and the portal answer by address.
scenario_build() {
    CAMPUS_DNS=off
    campus_network
}
