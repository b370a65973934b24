# Sourced by the end-to-end capture benchmarks: what each checks before it starts, its move into a
# private test session, and the address a phone could reach there. The sourcing script sets
# `bench` (its name, for messages) and `top` (the repository).

# Built programs the benchmark runs.
bench_require_built() {
  local tool
  for tool in "$@"; do
    [ -x "$tool" ] || { echo "$bench: $tool is missing; build it first" >&2; exit 2; }
  done
}

# Programs of the system the benchmark runs.
bench_require_installed() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
  done
}

# Runs the benchmark again inside scripts/test-session.sh (its own network, buses and keyring),
# with the arguments given, unless it runs there already.
bench_enter_session() {
  if [ -z "${VANTREL_TEST_SESSION:-}" ]; then
    exec "$top/scripts/test-session.sh" "$@"
  fi
}

# The pairing link needs an address a phone could reach, and loopback is not one: a veth pair
# called NAME with ADDRESS (192.168.x.1/24) on one end.
bench_private_address() {
  local name=$1 address=$2
  ip link add "$name" type veth peer name "${name}p" && ip addr add "$address" dev "$name" &&
    ip link set "$name" up && ip link set "${name}p" up
}
