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

# resolved_files: the laptop's /etc becomes an overlay of the real one with
# links for resolv.conf and os-release (and the lab's hostname and hosts), and
# its /run a prepared directory; both mounts live only in the laptop's mount
# namespace.
resolved_files() {
    local upper="$LAB_TMP/etc-upper" work="$LAB_TMP/etc-work" run="$LAB_TMP/run"
    local resolve="$run/systemd/resolve" netns_etc="/etc/netns/${LAB_NS[laptop]}"
    mkdir -p "$upper" "$work" "$resolve"
    printf '%s\n' "${LAB_RESOLV[@]}" >"$resolve/stub-resolv.conf"
    printf '%s\n' "# This is /run/systemd/resolve/resolv.conf managed by man:systemd-resolved(8)." \
        "nameserver $CAMPUS_DNS1" "nameserver $CAMPUS_DNS2" "search campus.example.edu" \
        >"$resolve/resolv.conf"
    ns_etc laptop
    cp "$netns_etc/hostname" "$netns_etc/hosts" "$upper/"
    ln -s ../run/systemd/resolve/stub-resolv.conf "$upper/resolv.conf"
    ln -s ../usr/lib/os-release "$upper/os-release"
    ns_exec laptop mount -t overlay overlay -o "lowerdir=/etc,upperdir=$upper,workdir=$work" /etc
    ns_exec laptop mount --bind "$run" /run
}
