# resolved-silent: 'resolved' whose stub forwards to resolvers that are
# silent: the campus resolvers do not run, the stub on 127.0.0.53 (dnsmasq
# forwarding to them) listens but gets no answer to pass on.
CAMPUS_DNS=off

scenario_build() {
    campus_network
    LAB_RESOLV=("# This is /run/systemd/resolve/stub-resolv.conf managed by man:systemd-resolved(8)."
        "nameserver 127.0.0.53" "options edns0 trust-ad" "search campus.example.edu")
    expect_listen laptop udp 127.0.0.53:53
    spawn laptop dns-stub -- dnsmasq --keep-in-foreground --conf-file=/dev/null --pid-file= \
        --no-resolv --no-hosts --bind-interfaces --listen-address=127.0.0.53 \
        --server="$CAMPUS_DNS1" --server="$CAMPUS_DNS2" --log-facility=-
    resolved_files
}
