# The Wine root: a Debian bookworm tree with Wine for both architectures (wine, wine64,
# wine32:i386), made by mmdebstrap from the main and updates suites only, for a host whose own
# packages cannot take the 32-bit Wine while its kernel runs 32-bit programs. Kept outside the
# clone, in $(vivediz_cache)/wine-root/HASH, HASH naming its recipe: a second clone and a second
# run reuse it, and a changed recipe makes a new one (the old one is removed once nothing uses it).
# It is made under a lock into a temporary name, renamed when whole. Making it and running from it
# need root.
#
# Sourced by wine_env.sh. `bash scripts/wine_root.sh` makes it ahead of time and prints its path.
#
# A run enters it through a mount namespace of its own (wine_root_enter), held by a process that
# lives as long as the script that sourced this: /proc, /sys, /dev (with /dev/pts), /tmp, the
# clone, TMPDIR and the current folder are bound in at the same paths, and the root itself is
# read-only. The mounts live and die with the namespace, so the host's mount table never holds one
# inside the root. Each Wine call then enters that namespace and the root (wine_root_exec).

wine_root_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$wine_root_scripts/host.sh"

# What goes into the root; their hash names it. The mirror is not part of it.
wine_root_options=(
  --variant=essential
  --architectures=amd64,i386
  --include=wine,wine64,wine32:i386
  '--aptopt=APT::Install-Recommends "false"'
)
wine_root_suite=bookworm
wine_root_sources=("deb MIRROR bookworm main" "deb MIRROR bookworm-updates main")
wine_root_mirror="${VIVEDIZ_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
wine_root_dir="$(vivediz_cache)/wine-root"
wine_root_hash=$(printf '%s\n' "${wine_root_options[@]}" "$wine_root_suite" \
  "${wine_root_sources[@]}" | sha256sum | cut -c 1-16)

wine_root_path() { echo "$wine_root_dir/$wine_root_hash"; }

# Makes the root unless it exists. False, with the reason in wine_root_reason, when it cannot be
# made; the reason is kept and the making not tried again for a day (at once with
# VIVEDIZ_RETRY_PACKAGES=1), so that one failure does not cost every later stage its minutes.
wine_root_reason=""
wine_root_make() {
  local root
  root=$(wine_root_path)
  [ -d "$root" ] && return 0
  if [ "${VIVEDIZ_RETRY_PACKAGES:-}" != 1 ] &&
    [ -n "$(find "$root.failed" -mmin -1440 2>/dev/null)" ]; then
    wine_root_reason="$(cat "$root.failed") (tried again after a day or with VIVEDIZ_RETRY_PACKAGES=1)"
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    wine_root_reason="the Wine root could not be made: making it and running from it need root"
    return 1
  fi
  if ! mkdir -p "$wine_root_dir"; then
    wine_root_reason="the Wine root could not be made: cannot create $wine_root_dir"
    return 1
  fi
  wine_root_reason=$(
    exec 8>>"$root.lock"
    if ! flock -x -n 8; then
      echo "wine root: waiting for another run that is making $root" >&2
      flock -x 8
    fi
    [ -d "$root" ] && exit 0
    if reason=$(make_root "$root"); then
      rm -f "$root.failed"
      remove_other_roots
      exit 0
    fi
    echo "$reason" >"$root.failed"
    echo "$reason"
  )
  [ -z "$wine_root_reason" ]
}

# True when a process runs inside PATH, or any mount namespace has a mount inside it.
in_use() {
  local path=$1
  # Both go on past a process that ends meanwhile, and their complaints do not count.
  { find /proc/[0-9]*/root -maxdepth 0 \( -lname "$path" -o -lname "$path/*" \) -print 2>/dev/null ||
    true; } | grep -q . && return 0
  { cat /proc/[0-9]*/mountinfo 2>/dev/null || true; } |
    awk -v p="$path" '$5 == p || index($5, p "/") == 1 { found = 1 } END { exit !found }'
}

# Removes a root or a partial one, unless something uses it; false when it stays.
remove_unused() {
  [ -e "$1" ] || return 0
  if in_use "$1"; then
    echo "wine root: $1 is in use (a process or a mount inside it); left as it is" >&2
    return 1
  fi
  rm -rf --one-file-system "$1"
}

# Roots of other recipes that nothing holds or uses.
remove_other_roots() {
  local lock path
  for lock in "$wine_root_dir"/*.lock; do
    path=${lock%.lock}
    [ "$path" = "$(wine_root_path)" ] && continue
    (
      flock -x -n 9 || exit 0
      remove_unused "$path.making" && remove_unused "$path" || exit 0
      rm -f "$lock" "$path.failed" "$path.log"
      echo "wine root: removed $path, made from another recipe" >&2
    ) 9<"$lock"
  done
}

# Under the exclusive lock: mmdebstrap into ROOT.making, three tries, then renamed to ROOT.
make_root() {
  local root=$1 making=$1.making log=$1.log
  if ! remove_unused "$making"; then
    echo "a partial root that is still in use is in the way: $making"
    return 1
  fi
  if ! bash "$wine_root_scripts/bootstrap.sh" wine-root; then
    echo "the Wine root could not be made: mmdebstrap cannot be installed"
    return 1
  fi
  local free_kib
  free_kib=$(df --output=avail -k "$wine_root_dir" | tail -n 1)
  if [ "$free_kib" -lt $((3 * 1024 * 1024)) ]; then
    echo "the Wine root could not be made: $((free_kib / 1024)) MiB free in $wine_root_dir, and it needs about 3 GiB"
    return 1
  fi
  local sources=() source
  for source in "${wine_root_sources[@]}"; do sources+=("${source//MIRROR/$wine_root_mirror}"); done
  echo "wine root: making $root from Debian $wine_root_suite's main and updates suites" \
    "(once: 3 to 6 minutes and 1.6 GB)" >&2
  local try started=$SECONDS
  for try in 1 2 3; do
    # In a mount namespace of its own, so that the mounts mmdebstrap makes inside the tree vanish
    # with it, even when it is killed.
    if unshare --mount --propagation private -- mmdebstrap '--aptopt=Acquire::Retries "3"' \
      "${wine_root_options[@]}" "$wine_root_suite" "$making" "${sources[@]}" >"$log" 2>&1; then
      printf '%s\n' "${wine_root_options[@]}" "$wine_root_suite" "${sources[@]}" \
        >"$making/vivediz-recipe"
      mv -T "$making" "$root"
      echo "wine root: made in $((SECONDS - started)) s; $(du -sh "$root" | cut -f 1)" >&2
      return 0
    fi
    rm -rf --one-file-system "$making"
    [ "$try" -lt 3 ] && sleep $((try * 15))
  done
  echo "the Wine root could not be made (mmdebstrap: $(grep -E '^(E|W):' "$log" | tail -n 1 |
    sed 's/ *\[IP: .*//' | cut -c 1-200); its log: $log)"
  return 1
}

# Enters ROOT for the rest of the sourcing script's run: takes the shared lock on it (which every
# process started from here inherits, wineserver included, so that the root is not removed while
# any of them runs) and starts the process that holds the namespace, which ends a second after
# that script and removes the folder wine_root_shims. Sets wine_root_exec and wine_root_env, from
# which wine_root_run and the shims that wine_env.sh writes into wine_root_shims run commands. False, with the reason in wine_root_reason, when it cannot be
# entered.
wine_root_exec=()
wine_root_env=()
wine_root_enter() {
  local root=$1 path held line ready
  if [ "$(id -u)" -ne 0 ]; then
    wine_root_reason="running from the Wine root needs root"
    return 1
  fi
  exec {wine_root_lock}<>"$root.lock" && flock -s "$wine_root_lock" && [ -d "$root" ] || {
    wine_root_reason="the Wine root $root cannot be entered: it is gone"
    return 1
  }
  # The clone, TMPDIR and the current folder, each unless a folder bound already holds it.
  local bound=(/proc /sys /dev /tmp)
  for path in "$(cd "$wine_root_scripts/.." && pwd)" "${TMPDIR:-/tmp}" "$PWD"; do
    for held in "${bound[@]}"; do [[ $path/ == "$held"/* ]] && continue 2; done
    [ "$path" = / ] || bound+=("$path")
  done
  for path in "${bound[@]}"; do mkdir -p "$root$path"; done
  wine_root_shims="${TMPDIR:-/tmp}/vivediz-wine-root-$$"
  exec {ready}< <(unshare --mount --propagation private -- bash -c '
    root=$1 owner=$2 shims=$3
    shift 3
    mount --bind "$root" "$root"
    for path; do
      error=$(mount --rbind "$path" "$root$path" 2>&1) || { echo "$error"; exit 1; }
    done
    error=$(mount -o remount,bind,ro "$root" 2>&1) || { echo "$error"; exit 1; }
    echo "ready $$"
    exec >/dev/null 2>&1
    while kill -0 "$owner"; do sleep 1; done
    rm -rf "$shims"
  ' wine_root "$root" "$$" "$wine_root_shims" "${bound[@]}" 2>&1)
  read -r -u "$ready" line
  exec {ready}<&-
  if [[ ! $line =~ ^ready\ ([0-9]+)$ ]]; then
    wine_root_reason="the Wine root $root cannot be entered: ${line:-its namespace did not start}"
    return 1
  fi
  wine_root_exec=(nsenter "--mount=/proc/${BASH_REMATCH[1]}/ns/mnt" -- chroot "$root" /usr/bin/env)
  # The root is read-only, its home folder included: fontconfig's cache goes to the temporary folder.
  wine_root_env=(PATH=/usr/bin:/bin "XDG_CACHE_HOME=${TMPDIR:-/tmp}/vivediz-wine-root-cache-$(id -u)")
}

# Runs a command inside the entered root, in the current folder.
wine_root_run() { "${wine_root_exec[@]}" -C "$PWD" "${wine_root_env[@]}" "$@"; }

# bash scripts/wine_root.sh: makes the root now, and prints its path.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  if wine_root_make; then
    wine_root_path
  else
    echo "wine root: $wine_root_reason" >&2
    exit 1
  fi
fi
