# Shell code shared by wine64-run, pe32-run, pe32-env and xvfb-run-session (sourced, not run).
#
# Everything Wine needs at run time (prefixes, the qemu-i386 emulator, the relocated Wine
# loader, lock files) lives under one per-user cache and never in the repo; deleting the
# cache is a clean reset.

VELMORA_CACHE=${VELMORA_CACHE:-$HOME/.cache/velmora}
WINE_LIBDIR=/usr/lib/wine
# Debian's "wineserver" is a wrapper that always adds -p0; the real server takes -w/-k as given.
WINESERVER=$WINE_LIBDIR/wineserver64
WINE64_PREFIX=$VELMORA_CACHE/wine64
PE32_PREFIX=$VELMORA_CACHE/pe32
PE32_QEMU=$VELMORA_CACHE/qemu/usr/bin/qemu-i386
PE32_ROOT=$VELMORA_CACHE/pe32-root

vel_die() { echo "${0##*/}: $*" >&2; exit 1; }
# Progress notes only for a person at a terminal: under CTest the output is the program's own.
vel_note() { if [ -t 2 ]; then echo "${0##*/}: $*" >&2; fi; return 0; }

# vel_locked LOCKFILE CMD...: runs CMD under an exclusive lock. Neither this lock's descriptor
# (9) nor the session lock's (8) is passed on to CMD, so daemons it leaves behind (wineserver,
# services.exe) cannot keep holding a lock.
vel_locked() {
  local lock=$1
  shift
  mkdir -p "${lock%/*}"
  (
    exec 9>"$lock"
    flock 9
    "$@" 8>&- 9>&-
  )
}

vel_in_session() {
  [ -n "${VELMORA_WINE_SESSION:-}" ] && [ -d "$VELMORA_WINE_SESSION" ]
}

# The end of a session kills every Wine process of both prefixes, and its display goes with
# it (the prefix's desktop process may draw there). So a session holds this lock exclusively
# and a run outside any session holds it shared: callers that share the cache (parallel
# ctest runs, other people's test runs) wait for each other instead of killing each other's
# programs. Descriptor 8 stays open for this shell only: children are started with 8>&-.
vel_session_lock() {
  mkdir -p "$VELMORA_CACHE"
  exec 8>"$VELMORA_CACHE/session.lock"
  if ! flock -n "--$1" 8; then
    vel_note "waiting for another Wine test session on $VELMORA_CACHE to end"
    flock "--$1" 8
  fi
}

# ---- X display -------------------------------------------------------------------------

VEL_XVFB_PID=
# Starts an Xvfb on a free display and exports DISPLAY. With -displayfd the server picks the
# number itself and reports it once it accepts clients, so parallel starts cannot collide.
vel_xvfb_start() {
  local f
  f=$(mktemp "${TMPDIR:-/tmp}/velmora-xvfb.XXXXXX")
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$f" </dev/null >/dev/null 2>&1 8>&- &
  VEL_XVFB_PID=$!
  for _ in $(seq 200); do
    [ -s "$f" ] && break
    kill -0 "$VEL_XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  DISPLAY=:$(head -n 1 "$f")
  rm -f "$f"
  [ "$DISPLAY" != ":" ] || { vel_xvfb_stop; vel_die "Xvfb did not start"; }
  export DISPLAY
}

vel_xvfb_stop() {
  if [ -n "$VEL_XVFB_PID" ]; then
    kill "$VEL_XVFB_PID" 2>/dev/null || true
    wait "$VEL_XVFB_PID" 2>/dev/null || true
    VEL_XVFB_PID=
  fi
}

# ---- the two Wine set-ups ----------------------------------------------------------------

vel_wine_env() {
  export WINEPREFIX=$VEL_PREFIX
  export WINEDEBUG=${WINEDEBUG--all}
  # No .NET or HTML engine: Wine would otherwise offer to download them on first use.
  export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
}

# 64-bit programs: Debian's wine64, natively.
vel_use_wine64() {
  VEL_PREFIX=$WINE64_PREFIX
  VEL_WINE=$WINE_LIBDIR/wine64
  vel_wine_env
}

# 32-bit programs: the kernel runs no i386 code, so in a win64 prefix every 32-bit Wine process
# is Debian's i386 loader run by qemu-i386 (10.x from bookworm-backports: bookworm's 7.2 is
# about 14 times slower). The 64-bit side (wineserver, services, explorer) stays native.
vel_use_pe32() {
  vel_pe32_qemu_prepare
  vel_pe32_root_prepare
  VEL_PREFIX=$PE32_PREFIX
  VEL_WINE=$PE32_ROOT/lib/wine/wine64
  vel_wine_env
  # Lets the 64-bit side find the i386 builtin DLLs when it sets up or starts 32-bit processes.
  export WINEDLLPATH=/usr/lib/i386-linux-gnu/wine
}

vel_pe32_qemu_prepare() {
  [ -x "$PE32_QEMU" ] || vel_locked "$VELMORA_CACHE/qemu.lock" vel_pe32_qemu_fetch
}

# Downloads qemu-user from the machine's own Debian mirror (read from its apt sources) with a
# private apt state, and keeps only qemu-i386: /etc/apt and the system's package lists stay
# untouched and nothing is installed system-wide.
vel_pe32_qemu_fetch() {
  [ -x "$PE32_QEMU" ] && return 0
  local mirror work
  mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$mirror" ] || vel_die "no Debian mirror found in the apt sources"
  work=$(mktemp -d "$VELMORA_CACHE/qemu-fetch.XXXXXX")
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/root"
  echo "deb $mirror bookworm-backports main" >"$work/sources.list"
  local apt_opts=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Get::List-Cleanup=0
    -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  vel_note "fetching qemu-i386 from bookworm-backports"
  if ! { apt-get "${apt_opts[@]}" -qq update &&
         (cd "$work" && apt-get "${apt_opts[@]}" -qq download qemu-user/bookworm-backports) &&
         dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -x -C "$work/root" ./usr/bin/qemu-i386; }; then
    rm -rf "$work"
    vel_die "could not fetch qemu-user from $mirror bookworm-backports"
  fi
  mkdir -p "${PE32_QEMU%/*}"
  mv "$work/root/usr/bin/qemu-i386" "$PE32_QEMU"
  rm -rf "$work"
}

# Wine starts a 32-bit process by exec'ing "<bindir>/wine-preloader <bindir>/wine ARGS", bindir
# being the folder of the running loader. Debian ships no preloader, so the loaders run from a
# small copy of /usr/lib/wine whose wine-preloader hands the i386 loader to qemu-i386.
vel_pe32_root_ready() {
  [ -x "$PE32_ROOT/lib/wine/wine-preloader" ] &&
    cmp -s "$WINE_LIBDIR/wine" "$PE32_ROOT/lib/wine/wine" &&
    cmp -s "$WINE_LIBDIR/wine64" "$PE32_ROOT/lib/wine/wine64"
}

vel_pe32_root_prepare() {
  vel_pe32_root_ready || vel_locked "$PE32_ROOT.lock" vel_pe32_root_make
}

vel_pe32_root_make() {
  vel_pe32_root_ready && return 0
  local new
  new=$(mktemp -d "$VELMORA_CACHE/pe32-root.XXXXXX")
  mkdir -p "$new/lib/wine" "$new/share"
  # Copies, not links: a loader finds ntdll.so and the preloader next to its own real path.
  cp "$WINE_LIBDIR/wine" "$WINE_LIBDIR/wine64" "$new/lib/wine/"
  ln -s /usr/lib/i386-linux-gnu "$new/lib/i386-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu "$new/lib/x86_64-linux-gnu"
  ln -s /usr/share/wine "$new/share/wine"
  ln -s "$WINE_LIBDIR/wineserver" "$new/lib/wine/wineserver"
  cat >"$new/lib/wine/wine-preloader" <<EOF
#!/bin/sh
# Wine runs "<bindir>/wine-preloader <bindir>/wine ARGS" to start a 32-bit process.
WINELOADERNOEXEC=1 exec "$PE32_QEMU" "\$@"
EOF
  chmod +x "$new/lib/wine/wine-preloader"
  rm -rf "$PE32_ROOT"
  mv "$new" "$PE32_ROOT"
}

# ---- prefixes ------------------------------------------------------------------------------

vel_prefix_ensure() {
  [ -e "$VEL_PREFIX/.velmora-ready" ] || vel_locked "$VEL_PREFIX.lock" vel_prefix_create
}

# Runs under the prefix lock, so parallel first runs (ctest -j2) create it once; the marker
# is written last, so a prefix left half-made by an interrupted run is made again.
vel_prefix_create() {
  [ -e "$VEL_PREFIX/.velmora-ready" ] && return 0
  local log=$VEL_PREFIX.log aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  vel_note "creating the Wine prefix $VEL_PREFIX (first use only)"
  if [ -d "$VEL_PREFIX" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$VEL_PREFIX"
  fi
  # Managed=N: with no window manager on Xvfb, Wine waits about 2 s on every destroy of a
  # managed window. An empty AeDebug debugger (both registry views): a crash then ends the
  # program at once with the exception code as its exit status, instead of a crash dialog
  # that waits forever or a winedbg that sometimes lets the process exit with 0.
  if ! { "$VEL_WINE" wineboot -i &&
         "$VEL_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
         "$VEL_WINE" reg add "$aedebug" /v Debugger /d '' /f /reg:64 &&
         "$VEL_WINE" reg add "$aedebug" /v Debugger /d '' /f /reg:32 &&
         "$WINESERVER" -w; } </dev/null >"$log" 2>&1; then
    vel_die "creating the Wine prefix $VEL_PREFIX failed, see $log"
  fi
  touch "$VEL_PREFIX/.velmora-ready"
}

# ---- shared session (tools/xvfb-run-session) -------------------------------------------------

# In a session the first run per prefix leaves an idle cmd.exe behind and starts the desktop
# process, both with their output on /dev/null. The wineserver, services and explorer.exe then
# stay up until the session ends, so later programs start warm, and no long-lived Wine process
# inherits (and holds open) the stdout/stderr pipe of a program that CTest waits on.
vel_session_warm() {
  vel_in_session || return 0
  vel_session_is_warm || vel_locked "$VEL_PREFIX.lock" vel_session_warm_locked
}

vel_session_is_warm() {
  local mark=$VELMORA_WINE_SESSION/keeper-${VEL_PREFIX##*/}
  [ -s "$mark" ] && kill -0 "$(cat "$mark")" 2>/dev/null
}

vel_session_warm_locked() {
  vel_session_is_warm && return 0
  local fifo=$VELMORA_WINE_SESSION/stdin-${VEL_PREFIX##*/}
  rm -f "$fifo"
  mkfifo "$fifo"
  # Opened read-write, the FIFO never blocks the open and never reaches end-of-file: cmd.exe
  # waits on it until the session's "wineserver -k".
  "$VEL_WINE" cmd <>"$fifo" >/dev/null 2>&1 &
  local keeper=$!
  # Any window starts explorer.exe; the idle cmd.exe keeps it (and the desktop) alive.
  "$VEL_WINE" rundll32 user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  # Only now is the prefix warm. Marked any earlier, a program started meanwhile by a test
  # running alongside would skip the lock, start services.exe or explorer.exe itself, and
  # leave them holding its output pipe: CTest would then wait for that test forever.
  echo "$keeper" >"$VELMORA_WINE_SESSION/keeper-${VEL_PREFIX##*/}"
}

# ---- running a program ---------------------------------------------------------------------

VEL_CHILD=
vel_on_signal() {
  if [ -n "$VEL_CHILD" ]; then kill -TERM "$VEL_CHILD" 2>/dev/null || true; fi
  exit "$1"
}

# Without a display of the caller's, the run gets its own Xvfb. It goes only after this
# prefix's wineserver has exited: explorer.exe, which draws the desktop for every program of
# the prefix (also another run's, started meanwhile), lives on the display of the run that
# started it.
vel_private_display_end() {
  timeout 300 "$WINESERVER" -w >/dev/null 2>&1 || true
  vel_xvfb_stop
}

# vel_with_display CMD...: runs CMD (a shell function) with the session lock taken when
# outside a session, and with a display.
vel_with_display() {
  vel_in_session || vel_session_lock shared
  trap 'vel_on_signal 130' INT
  trap 'vel_on_signal 143' TERM
  if [ -z "${DISPLAY:-}" ]; then
    trap vel_private_display_end EXIT
    vel_xvfb_start
  fi
  "$@"
}

vel_prepare() {
  vel_prefix_ensure
  vel_session_warm
}

vel_run_program() {
  vel_prepare
  local args=() arg
  for arg in "$@"; do
    case $arg in
      # GoogleTest on Windows reads "/abs/report.xml" as a relative path and writes the report
      # under the current folder; as "Z:/abs/report.xml" (Wine's Z: is the Unix root) it lands
      # where CMake asked for it.
      --gtest_output=xml:/* | --gtest_output=json:/*) arg=${arg%%:*}:Z:${arg#*:} ;;
    esac
    args+=("$arg")
  done
  # Started in the background only to pass INT/TERM on to it; stdin is the caller's (a plain
  # background job would read /dev/null), stdout, stderr and the current folder are untouched.
  if { : <&0; } 2>/dev/null; then
    "$VEL_WINE" "${args[@]}" <&0 8>&- &
  else
    "$VEL_WINE" "${args[@]}" </dev/null 8>&- &
  fi
  VEL_CHILD=$!
  local rc=0
  wait "$VEL_CHILD" || rc=$?
  VEL_CHILD=
  exit "$rc"
}

# Entry point of wine64-run and pe32-run.
vel_main() {
  case "${1:-}" in
    --prepare-prefix)
      [ $# -eq 1 ] || vel_die "--prepare-prefix takes no arguments"
      vel_with_display vel_prepare
      ;;
    "" | -h | --help)
      echo "usage: ${0##*/} EXE [ARGS...] | ${0##*/} --prepare-prefix" >&2
      exit 2
      ;;
    *)
      vel_with_display vel_run_program "$@"
      ;;
  esac
}
