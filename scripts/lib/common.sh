# Shared by the scripts in this folder; sourced, not run.

NR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Runs "$@" with an X display. When $DISPLAY is empty a private Xvfb is
# started on a free display number (Xvfb picks it and reports it through
# -displayfd) and stopped afterwards. Returns the command's exit status.
nr_with_display() {
  if [[ -n "${DISPLAY:-}" ]]; then
    "$@"
    return
  fi
  local fifo_dir display_file xvfb_pid display rc=0
  fifo_dir=$(mktemp -d)
  display_file="$fifo_dir/display"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset \
    3>"$display_file" >"$fifo_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [[ -s "$display_file" ]] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "Xvfb failed to start:" >&2
      cat "$fifo_dir/xvfb.log" >&2
      rm -rf "$fifo_dir"
      return 1
    fi
    sleep 0.1
  done
  display=$(tr -d '[:space:]' <"$display_file")
  if [[ -z "$display" ]]; then
    echo "Xvfb did not report a display" >&2
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$fifo_dir"
    return 1
  fi
  DISPLAY=":$display" "$@" || rc=$?
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$fifo_dir"
  return "$rc"
}

# Sanitizer run-time options: every report fails the run; suppressions are
# for third-party code only and say why next to each entry.
nr_sanitizer_env() {
  local supp="$NR_ROOT/tests/sanitizers"
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1}"
  export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$supp/lsan.supp:print_suppressions=0}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp}"
}
