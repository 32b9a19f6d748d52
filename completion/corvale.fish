# fish completion for corvale: the options of corvale --help, a file name after
# --json, --prometheus and --report, the words of --color and --fail-on.
complete -c corvale -f
complete -c corvale -s h -l help -d 'Show the usage text and exit'
complete -c corvale -s V -l version -d 'Show the version and exit'
complete -c corvale -l no-progress -d 'Do not draw the progress line'
complete -c corvale -l color -x -a 'auto always never' -d 'Colour the status words'
complete -c corvale -l json -r -F -d 'Also write what the run learned as JSON to FILE (- for stdout)'
complete -c corvale -l prometheus -r -F -d 'Also write the metrics in the Prometheus format to FILE'
complete -c corvale -l report -r -F -d 'Write the report to a file or into a directory'
complete -c corvale -l no-report -d 'Write no report and open no browser'
complete -c corvale -l fail-on -x -a 'problem warning' -d 'Exit 1 when a finding of this level or worse exists'
