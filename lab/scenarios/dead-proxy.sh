# dead-proxy: 'direct' plus proxy variables naming 127.0.0.1:7890, where
# nothing listens: a proxy core was quit and its settings were left behind.
scenario_build() {
    campus_network
    LAB_ENV+=("HTTP_PROXY=http://127.0.0.1:7890" "https_proxy=http://127.0.0.1:7890")
}
