namespace corvale {}
