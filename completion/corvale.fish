# fish completion for corvale: the options of corvale --help, a file name after
# --json and --prometheus.
complete -c corvale -f
complete -c corvale -s h -l help -d 'Show the usage text and exit'
complete -c corvale -l version -d 'Show the version and exit'
complete -c corvale -l no-progress -d 'Do not draw the progress line'
complete -c corvale -l json -r -F -d 'Also write what the run learned as JSON to FILE'
complete -c corvale -l prometheus -r -F -d 'Also write the metrics in the Prometheus format to FILE'
