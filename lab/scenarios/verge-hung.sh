# verge-hung: 'verge-tun' with the core hung: its process, its ports and its
# tunnel are there, but its unix-socket controller accepts and never answers.
scenario_build() {
    campus_network
    verge_gui unix hung
}
