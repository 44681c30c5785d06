# Sourced by the end-to-end tests of the window. start_desktop ARGS... starts the headless
# desktop ($gs start ARGS) into the test's environment, writing its errors to
# $work/session.err, and sets session=1 for the test's cleanup; it calls the test's fail when
# no desktop starts. A display just given up by the test before can make a first start fail:
# it is tried three times.
start_desktop() {
  local attempt session_env
  for attempt in 1 2 3; do
    session_env=$("$gs" start "$@" 2>"$work/session.err") && break
    ((attempt < 3)) || fail "no headless desktop: $(cat "$work/session.err")"
    sleep 1
  done
  eval "$session_env"
  session=1
}
