# explicit: 'direct' plus explicit proxies listening on the laptop's loopback:
# tinyproxy 127.0.0.1:8888 (HTTP CONNECT), microsocks 127.0.0.1:1080 (SOCKS5),
# v2ray 127.0.0.1:10808 (SOCKS5) and 127.0.0.1:10809 (HTTP), a web server on
# 127.0.0.1:8080; CMD gets HTTP_PROXY pointing at tinyproxy (with credentials).
scenario_build() {
    campus_network
    explicit_proxies
}
