#!/bin/sh
# The collector's systemd unit as systemd itself reads it: systemd-analyze
# verify on a copy whose ExecStart names the built qta504d, and the settings
# the service relies on.
#   verify_unit.sh SYSTEMD-ANALYZE UNIT QTA504D
set -eu
analyze=$1 unit=$2 binary=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/bin/qta504d|$binary|" "$unit" >"$dir/qta504d.service"
# The manual page is checked once installed (scripts/test-package).
"$analyze" verify --man=no "$dir/qta504d.service"
for line in 'User=qta504' 'SupplementaryGroups=dialout' 'ProtectSystem=strict' \
    'ReadWritePaths=/var/lib/qta504' 'Restart=on-failure' 'ExecReload=/bin/kill -HUP $MAINPID'; do
    grep -qxF "$line" "$unit" || { echo "verify_unit: no '$line' in $unit" >&2; exit 1; }
done
# Disabled by default: nothing but the [Install] section makes it start.
! grep -q '^Alias=' "$unit"
echo "verify_unit: $unit accepted"
