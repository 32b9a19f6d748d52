# direct: wired laptop on the campus LAN; the gateway, campus portal and
# self-service site, campus and public resolvers and 1.1.1.1:443 all answer.
scenario_build() {
    campus_network
}
