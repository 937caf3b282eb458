# Sourced by scripts/e2e.sh --emulate: runs Wine's 32-bit side under qemu-user emulation, for a
# host whose kernel refuses 32-bit programs. Installs qemu-user-static when it is missing,
# registers the i386 format with binfmt_misc when nothing handles it yet, and takes back on exit
# what it registered or mounted (the package stays). A registered format takes precedence over
# the kernel's own loader, so on a host that runs 32-bit programs this emulates them too.
#
# Slow: creating a prefix takes about 5 minutes and each start of an x86 program about a minute,
# so it runs in a prefix of its own, .wine-emulated/, which is kept for the next run.

binfmt_dir=/proc/sys/fs/binfmt_misc
qemu_i386=/usr/bin/qemu-i386-static
emulation_mounted=0
emulation_registered=""
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# The i386 ELF header (executables and shared objects), as qemu's own binfmt list has it; "F"
# opens the interpreter now, so that it also serves inside other mount namespaces.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The registered format that already handles i386 programs, if any.
registered_i386_format() {
  local entry
  for entry in "$binfmt_dir"/*; do
    case "$(basename "$entry")" in register | status) continue ;; esac
    if grep -q '^enabled' "$entry" 2>/dev/null && grep -q '^magic 7f454c4601010100' "$entry" &&
      grep -q '0200 *0300\|02000300' "$entry"; then
      basename "$entry"
      return 0
    fi
  done
  return 1
}

# False, with the reason, when emulation cannot be set up here. Whether Wine's 32-bit loader then
# runs, the host's or the Wine root's, is for wine_env.sh to find.
x86_emulation_start() {
  if [ ! -x "$qemu_i386" ]; then
    # In a user namespace (unshare --user) apt cannot change its users, so it cannot install.
    if [ "$(awk 'NR == 1 {print $1 $2 $3}' /proc/self/uid_map 2>/dev/null)" != 004294967295 ]; then
      echo "emulate: qemu-user-static is not installed, and apt cannot install it inside a user" \
        "namespace: install it outside first (apt-get install qemu-user-static)" >&2
      return 1
    fi
    echo "emulate: installing qemu-user-static" >&2
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
      qemu-user-static >/dev/null || {
      echo "emulate: cannot install qemu-user-static" >&2
      return 1
    }
  fi
  if [ ! -e "$binfmt_dir/register" ]; then
    local error
    if ! error=$("${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>&1); then
      echo "emulate: cannot mount binfmt_misc on $binfmt_dir: $error" >&2
      echo "emulate: the kernel lacks binfmt_misc, or this container may not mount it" >&2
      return 1
    fi
    emulation_mounted=1
  fi
  local existing
  if existing=$(registered_i386_format); then
    echo "emulate: i386 programs already run through binfmt_misc entry '$existing'" >&2
  else
    local line=":vivediz-i386:M::${i386_magic}:${i386_mask}:${qemu_i386}:F"
    local error
    if ! error=$(printf '%s' "$line" | "${sudo_cmd[@]}" tee "$binfmt_dir/register" 2>&1 >/dev/null); then
      echo "emulate: cannot register i386 with binfmt_misc: $error" >&2
      [ -w "$binfmt_dir/register" ] || echo "emulate: $binfmt_dir/register is not writable here (root needed, or a read-only /proc)" >&2
      return 1
    fi
    emulation_registered=vivediz-i386
    echo "emulate: registered i386 with binfmt_misc for $qemu_i386" >&2
  fi
}

x86_emulation_stop() {
  if [ -n "$emulation_registered" ] && [ -e "$binfmt_dir/$emulation_registered" ]; then
    echo -1 | "${sudo_cmd[@]}" tee "$binfmt_dir/$emulation_registered" >/dev/null || true
    echo "emulate: unregistered $emulation_registered" >&2
  fi
  emulation_registered=""
  if [ "$emulation_mounted" -eq 1 ]; then
    "${sudo_cmd[@]}" umount "$binfmt_dir" 2>/dev/null || true
    emulation_mounted=0
  fi
}
