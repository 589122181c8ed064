#!/usr/bin/env bash
# Runs one qvdecode command under valgrind memcheck in its own output folder. Any memory
# error or definitely lost block fails the test; without valgrind the test is skipped (77).
set -uo pipefail
out_dir=$1
shift
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed (scripts/install-deps.sh installs it): skipped"
  exit 77
fi
rm -rf "$out_dir"
mkdir -p "$out_dir"
cd "$out_dir" || exit 1
exec valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=1 "$@"
