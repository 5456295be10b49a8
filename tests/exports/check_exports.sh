#!/usr/bin/env bash
# Usage: check_exports.sh LIBRARY EXPECTED_LIST
# Passes when the library's defined dynamic symbols are exactly the list.
set -euo pipefail
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
wanted=$(grep -v '^#' "$expected" | sed '/^$/d' | sort)
if [ "$actual" != "$wanted" ]; then
  echo "exports of $lib differ from $expected:"
  diff <(echo "$wanted") <(echo "$actual") || true
  exit 1
fi
echo "$(echo "$actual" | wc -l) exports, as listed"
