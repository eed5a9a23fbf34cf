#!/usr/bin/env bash
# Installs the 32-bit Wine (wine32:i386) that runs the i686 product's tests,
# when the package mirror can deliver it without removing or downgrading any
# installed package. Never stops the caller: it exits 0 when
# /usr/lib/wine/wine is there afterwards, and otherwise exits 1 after one
# line on standard output that says why. Time-bounded (VEUPD_WINE32_TIMEOUT
# seconds per apt step, default 600).
set -uo pipefail

wine32=/usr/lib/wine/wine
limit=${VEUPD_WINE32_TIMEOUT:-600}
[ -x "$wine32" ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "cannot install wine32:i386: not root and sudo needs a password"
    exit 1
  fi
  sudo=(sudo -n)
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The first apt error line, for the one-line reason.
first_error() { grep -m1 -E '^(E|Err):' "$log" | cut -c1-200; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if ! "${sudo[@]}" dpkg --add-architecture i386 >"$log" 2>&1; then
    echo "cannot add the i386 architecture: $(head -n1 "$log")"
    exit 1
  fi
fi

# A mirror in the middle of a sync serves an index that does not match its
# signed release file; a second try a little later often gets a good one.
index_ok=0
for attempt in 1 2; do
  if timeout "$limit" "${sudo[@]}" apt-get update >"$log" 2>&1 && ! grep -q '^E:' "$log"; then
    index_ok=1
    break
  fi
  [ "$attempt" -eq 1 ] && sleep 20
done
update_error=$(first_error)

# No --allow-downgrades and --no-remove: apt refuses rather than touch what
# the 64-bit side has installed (a 32-bit library must match the version of
# its 64-bit twin exactly).
if timeout "$limit" env DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y \
    --no-install-recommends --no-remove wine32:i386 >"$log" 2>&1 && [ -x "$wine32" ]; then
  exit 0
fi
reason=$(first_error)
[ -n "$reason" ] || reason="apt-get install wine32:i386 failed or timed out"
if [ "$index_ok" -eq 0 ] && [ -n "$update_error" ]; then
  reason="$reason (package index: $update_error)"
fi
echo "wine32:i386 cannot be installed without changing the 64-bit packages: $reason"
exit 1
