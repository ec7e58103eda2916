# Sourced first by every bench script, as
#   . "$(dirname "$0")/lib/bench.sh"
# Moves to the project's root (the scripts name every path from there), loads
# scripts/lib/deps.sh and scripts/lib/ftp-server.sh, and gives:
#   release_build TARGET...  installs what building needs and builds TARGETs
#                            of the release preset (build/release), quietly
#   bench_work NAME [DIR]    sets $work: DIR when given (made when missing and
#                            kept), else a new folder in TMPDIR (or /var/tmp, a
#                            disk rather than tmpfs) removed at exit unless
#                            KEEP is set
#   on_exit COMMAND          a clean-up step run when the script exits, the
#                            last added first, before the work folder goes;
#                            the FTP server, when one was started, stops first
#   now                      the wall clock in seconds, with nanoseconds
#   median [FILE...]         the median of the numbers in the FILEs (or on
#                            standard input), one a line or separated by
#                            blanks; of an even count, the mean of the middle two
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
. scripts/lib/deps.sh
. scripts/lib/ftp-server.sh

release_build() {
  ensure_packages "${BUILD_PACKAGES[@]}"
  cmake --preset release >/dev/null
  cmake --build --preset release --target "$@" >/dev/null
}

bench_exit_steps=()
bench_run_exit_steps() {
  local step
  stop_ftp_server
  for step in "${bench_exit_steps[@]}"; do eval "$step" || true; done
}
on_exit() {
  bench_exit_steps=("$*" "${bench_exit_steps[@]}")
}
trap bench_run_exit_steps EXIT

bench_work() {
  if [ -n "${2:-}" ]; then
    work=$(realpath -m "$2")
    mkdir -p "$work"
  else
    work=$(mktemp -d "${TMPDIR:-/var/tmp}/krevo-bench-$1.XXXXXX")
    # Added first, so run after every later step.
    bench_exit_steps+=("[ -n \"\${KEEP:-}\" ] || rm -rf $(printf %q "$work")")
  fi
}

now() { date +%s.%N; }

median() {
  cat "$@" | tr -s ' \t' '\n\n' | grep -v '^$' | sort -g |
    awk '{v[NR] = $1} END {if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
