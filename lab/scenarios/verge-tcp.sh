# verge-tcp: 'verge-tun' with the core's TCP controller on as well
# (127.0.0.1:9097, secret "set-your-secret"), and a mail client set to use
# the mixed port 127.0.0.1:7897 (SOCKS5) beside the browser the tunnel takes.
scenario_build() {
    campus_network
    verge_gui tcp
    spawn_app laptop thunderbird /usr/lib/thunderbird/thunderbird -- firefox --name thunderbird \
        --socks --proxy 127.0.0.1:7897 --target imap.example.org:993
    expect_estab laptop thunderbird
}
