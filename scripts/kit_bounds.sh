# Sourced by the scripts that run the acceptance kit under Wine: bounds that hold on a busy
# machine. The kit's waits stretch with the machine's load, and a run is ended when it stops
# making progress rather than when a fixed time is up, so that a slow run is not taken for a hung
# one.

# The factor for every wait of the kit (accept.exe --time-scale): 1 while a processor is to spare;
# on a busier machine the load per processor (the larger of the 1- and 5-minute averages), rounded
# up, since each program there gets that much less of a processor.
load_time_scale() {
  local processors
  processors=$(nproc 2>/dev/null) || processors=1
  awk -v n="$processors" '{ l = ($1 > $2 ? $1 : $2) / n; s = int(l); if (s < l) s++
                            print (s < 1 ? 1 : s) }' /proc/loadavg 2>/dev/null || echo 1
}

# run_watched SECONDS FILE COMMAND...: runs the command and ends it when FILE, which it writes as
# it goes (the kit's report), has not grown for SECONDS: a crashed program's debugger would wait
# for ever on the invisible display. Returns the command's status, or 124 when it was ended so.
run_watched() {
  local bound=$1 file=$2
  shift 2
  "$@" &
  local pid=$! size=-1 now quiet=0
  while kill -0 "$pid" 2>/dev/null; do
    now=$(stat -c %s "$file" 2>/dev/null) || now=0
    if [ "$now" != "$size" ]; then
      size=$now
      quiet=0
    elif [ "$quiet" -ge "$bound" ]; then
      kill "$pid" 2>/dev/null
      sleep 5
      kill -9 "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      return 124
    fi
    sleep 1
    quiet=$((quiet + 1))
  done
  wait "$pid"
}
