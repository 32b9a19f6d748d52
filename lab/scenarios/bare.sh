# bare: loopback only - no adapters, no routes; resolv.conf points at a local
# stub resolver (127.0.0.53) that nothing answers.
scenario_build() {
    laptop_bare
    LAB_RESOLV=("# This is /run/systemd/resolve/stub-resolv.conf managed by man:systemd-resolved(8)."
        "nameserver 127.0.0.53" "options edns0 trust-ad" "search .")
}
