# resolved: 'direct' on a desktop whose DNS systemd-resolved manages, as
# Ubuntu and Debian set it up: /etc/resolv.conf is a link to
# ../run/systemd/resolve/stub-resolv.conf, which names the local stub
# 127.0.0.53 (a resolver on the laptop answers there); the servers the stub
# forwards to, the campus resolvers, are in /run/systemd/resolve/resolv.conf;
# /etc/os-release is a link to ../usr/lib/os-release.
scenario_build() {
    campus_network
    LAB_RESOLV=("# This is /run/systemd/resolve/stub-resolv.conf managed by man:systemd-resolved(8)."
        "nameserver 127.0.0.53" "options edns0 trust-ad" "search campus.example.edu")
    dns_server laptop dns-stub 127.0.0.53
    resolved_files
}

