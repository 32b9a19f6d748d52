# bridge-capture: 'direct' plus a container bridge as Docker makes one for a
# user-defined network (br-3f2a1c, link kind bridge) whose subnet
# 10.0.32.0/24 covers both campus resolvers: the kernel sends 10.0.32.32 and
# 10.0.32.33 into the bridge, where nothing answers.
scenario_build() {
    campus_network
    ns_batch laptop <<EOF2
link add br-3f2a1c type bridge
link set br-3f2a1c up
addr add 10.0.32.1/24 dev br-3f2a1c
EOF2
}
