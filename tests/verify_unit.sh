#!/bin/sh
# The collector's systemd unit as systemd itself reads it: systemd-analyze
# verify on a copy whose ExecStart names the built qta504d, the settings the
# service relies on, and its exposure level (systemd-analyze security).
#   verify_unit.sh SYSTEMD-ANALYZE UNIT QTA504D
set -eu
analyze=$1 unit=$2 binary=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/bin/qta504d|$binary|" "$unit" >"$dir/qta504d.service"
# The manual page is checked once installed (scripts/test-package).
"$analyze" verify --man=no "$dir/qta504d.service"
for line in 'User=qta504' 'SupplementaryGroups=dialout' 'ProtectSystem=strict' \
    'ReadWritePaths=/var/lib/qta504' 'Restart=on-failure' 'ExecReload=/bin/kill -HUP $MAINPID' \
    'DeviceAllow=char-tty* rw' 'DeviceAllow=char-pts rw' \
    'RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6'; do
    grep -qxF "$line" "$unit" || { echo "verify_unit: no '$line' in $unit" >&2; exit 1; }
done
# Sandboxing that would take away what the collector needs: the serial ports
# (a private /dev holds none), the network, a port below 1024 given by a
# drop-in (capabilities in a user namespace do not reach the host's network),
# the program's name in the folder's lock file (Qt reads /proc/version first).
for line in 'PrivateDevices=yes' 'PrivateNetwork=yes' 'PrivateUsers=yes' 'ProcSubset=pid'; do
    ! grep -qxF "$line" "$unit" || { echo "verify_unit: '$line' in $unit" >&2; exit 1; }
done
# Its exposure as systemd rates it: 2.5 at most.
exposure=$("$analyze" security --offline=true "$dir/qta504d.service" |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.5) }' ||
    { echo "verify_unit: exposure level '$exposure', above 2.5" >&2; exit 1; }
# Disabled by default: nothing but the [Install] section makes it start.
! grep -q '^Alias=' "$unit"
echo "verify_unit: $unit accepted, exposure level $exposure"
