# Facts about this host that several scripts need; sourced, defines functions only.

# True when the kernel executes 32-bit x86 programs. Runs a 96-byte static i386 program that
# exits with 42, so the answer needs neither the 32-bit Wine nor any 32-bit library.
kernel_runs_i386() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/vivediz-i386.XXXXXX") || return 1
  # ELF header, one loadable segment at 0x08048000, then: mov eax, 1; mov ebx, 42; int 0x80.
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >>"$probe"
  chmod 700 "$probe"
  status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# The folder, outside any clone, where the project keeps what every clone of it on this host
# shares: what the set-up could not install, and the Wine root. VIVEDIZ_CACHE moves it.
vivediz_cache() {
  if [ -n "${VIVEDIZ_CACHE:-}" ]; then
    echo "$VIVEDIZ_CACHE"
  elif [ "$(id -u)" -eq 0 ]; then
    echo /var/cache/vivediz
  else
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/vivediz"
  fi
}
