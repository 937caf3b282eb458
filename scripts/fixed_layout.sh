# Sourced first, before anything else, by each script that runs Wine: runs the script again with
# the address space's randomization off (setarch -R), which every Wine process it starts inherits.
# With it on, Debian's 64-bit Wine loader sometimes finds its own heap on the page where Windows
# keeps the shared user data, and the start fails with error 1359 (docs/README-e2e.md).
if (((0x$(cat /proc/self/personality) & 0x40000) == 0)); then
  exec setarch -R "$BASH" "$0" "$@"
fi
