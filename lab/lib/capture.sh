# Run on the lab laptop by `lab/lab capture`: saves real command outputs to
# OUTDIR. For each FILE: stdout in FILE, stderr in FILE.stderr (only when not
# empty); OUTDIR/commands.tsv lists FILE, exit status and command.
set -u
out=$1
: >"$out/commands.tsv"

cap() {
    local file=$1 rc=0
    shift
    "$@" >"$out/$file" 2>"$out/$file.stderr" || rc=$?
    [[ -s $out/$file.stderr ]] || rm -f "$out/$file.stderr"
    printf '%s\t%s\t%s\n' "$file" "$rc" "$*" >>"$out/commands.tsv"
}

cap hostname.txt hostname
cap ip_link.json ip -j link show
cap ip_addr.json ip -j addr show
cap ip_route.json ip -j route show
cap ip6_route.json ip -j -6 route show
cap route_get_v4.txt ip route get 223.5.5.5
cap route_get_v6.txt ip -6 route get 2400:3200::1
cap route_get_1111.txt ip route get 1.1.1.1
cap ss_tcp.txt ss -H -tanp
cap ss_udp.txt ss -H -uanp
cap resolv.conf cat /etc/resolv.conf
cap ping_ok.txt ping -c 1 -W 2 223.5.5.5
cap ping_fail.txt ping -c 1 -W 2 10.9.9.9
cap ping6_ll.txt ping -6 -c 1 -W 2 fe80::1%enp3s0
exit 0
