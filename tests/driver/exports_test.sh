#!/bin/sh
# The driver library exports exactly the names of the list, nothing more.
# Usage: exports_test.sh <driver library> <sorted list of names>
set -eu
lib=$1
expected=$2
nm -D --defined-only "$lib" | awk 'NF == 3 { sub(/@.*/, "", $3); print $3 }' |
    LC_ALL=C sort -u | diff -u "$expected" -
