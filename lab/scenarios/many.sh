# many: 'direct' plus one xray stand-in listening on 300 loopback ports,
# 127.0.0.1:20000-20299: even ports answer a SOCKS5 greeting, odd ports
# answer any request like an HTTP proxy demanding authentication (407,
# Proxy-Agent: labproxy). Far more listeners than the probe budgets cover.
# MANY_HTTP_WAIT_HEAD=1: odd ports answer only a complete HTTP request head,
# so a SOCKS5 greeting sent to them waits out the prober's time-out.
MANY_HOST=127.0.0.1
MANY_FIRST=20000
MANY_LAST=20299

scenario_build() {
    campus_network
    local extra=()
    [[ -n ${MANY_HTTP_WAIT_HEAD:-} ]] && extra+=(--http-wait-head)
    spawn_py laptop xray xray -- portfarm --name xray \
        --range "$MANY_HOST:$MANY_FIRST-$MANY_LAST" ${extra[@]+"${extra[@]}"}
    LAB_WAITS+=("check_listen_range laptop $MANY_HOST $MANY_FIRST $MANY_LAST")
}

# check_listen_range ROLE ADDR FIRST LAST: every port of the range listens on ADDR.
check_listen_range() {
    local n
    n=$(ss -N "$(ns "$1")" -Htln | awk -v a="$2" -v lo="$3" -v hi="$4" '
        { i = match($4, /:[0-9]+$/); if (!i) next
          h = substr($4, 1, i - 1); p = substr($4, i + 1) + 0
          if (h == a && p >= lo && p <= hi) seen[p] = 1 }
        END { n = 0; for (p in seen) n++; print n }')
    ((n == $4 - $3 + 1))
}
