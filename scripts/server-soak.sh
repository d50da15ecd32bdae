#!/usr/bin/env bash
# The race server over hours: net-soak.sh with CLIENTS lite clients
# (default 40) for HOURS hours (default 8, fractions allowed: 0.17 is about
# ten minutes), sampling the server's CPU and resident memory every minute.
# It fails when a client was dropped or did not hear every other rider, when
# the server logged an error or went away, or when its resident memory at
# the end is more than 10% above the first minute's.
#
#   scripts/server-soak.sh [HOURS] [CLIENTS] [net-soak options...]
#
# The last line is net-soak's summary ("net_soak ok=yes|no ..."); the exit
# status is 0 only when every check passed. Keeps its logs under
# $NET_SOAK_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.."
case ${1:-} in
-h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
hours=${1:-8}
clients=${2:-40}
shift $(($# < 2 ? $# : 2))
[[ $hours =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "server-soak: HOURS must be a number, got '$hours'" >&2; exit 2; }
[[ $clients =~ ^[0-9]+$ ]] || { echo "server-soak: CLIENTS must be a count, got '$clients'" >&2; exit 2; }
exec scripts/net-soak.sh --hours "$hours" --clients "$clients" --sample 60 "$@"
