# listeners: 'direct' plus one local proxy (a TCP stand-in named proxyd)
# listening on 0.0.0.0:7890 (IPv4 only) and on [::]:7891 (dual-stack: ss
# shows *:7891), and proxy variables that name them by other addresses:
# HTTP_PROXY=http://[::1]:7890 (refused: nothing takes IPv6 on 7890),
# HTTPS_PROXY=http://localhost:7891 and ALL_PROXY=socks5://127.0.0.1:7891
# (both taken by the dual-stack socket).
scenario_build() {
    campus_network
    spawn_py laptop proxyd "" -- tcpsink --name proxyd --listen 0.0.0.0:7890 --listen "[::]:7891"
    expect_listen laptop tcp 0.0.0.0:7890
    expect_listen laptop tcp "*:7891"
    LAB_ENV+=("HTTP_PROXY=http://[::1]:7890" "HTTPS_PROXY=http://localhost:7891"
        "ALL_PROXY=socks5://127.0.0.1:7891")
}
