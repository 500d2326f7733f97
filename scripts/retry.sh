# Sourced by the set-up scripts: a step that talks to a Debian mirror, tried again.
#
# A mirror in the middle of a sync answers an index of the wrong size ("File has unexpected
# size ... Mirror sync in progress?"), and a minute later the right one; one such answer must
# not end the set-up, and with it a CI run.

# accel_retry STEP COMMAND [ARG...]: runs the command up to 3 times, ACCEL_RETRY_PAUSE seconds
# (15) apart; when the last try fails, names STEP on standard error and returns 1.
accel_retry() {
  local step=$1 try
  shift
  for try in 1 2 3; do
    "$@" && return 0
    [ "$try" -lt 3 ] || break
    echo "retry: step '$step' failed (try $try of 3), again in ${ACCEL_RETRY_PAUSE:-15} s" >&2
    sleep "${ACCEL_RETRY_PAUSE:-15}"
  done
  echo "retry: step '$step' failed 3 times" >&2
  return 1
}
