#!/usr/bin/env bash
# The host example in the README must compile against the public header alone and run.
set -euo pipefail
src_dir=$1
lib_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -n '/^```cpp/,/^```$/p' "$src_dir/README.md" | sed '1d;$d' > "$work/host.cpp"
[ -s "$work/host.cpp" ] || { echo "no C++ example in README.md"; exit 1; }
# The header names nothing of ours beyond the interface: a host's own names never clash
# with internals (a function called qv, types named like FFmpeg's).
cat >> "$work/host.cpp" <<'HOST'
int qv(int x) { return x; }
struct AVFrame { int mine; };
struct SwsContext { int mine; };
namespace detail { int Impl = 0; }
HOST
g++ -std=c++17 -Wall -Wextra -Werror "$work/host.cpp" -I"$src_dir/include" -L"$lib_dir" -lqvdecoder -o "$work/host"
cd "$work" && LD_LIBRARY_PATH="$lib_dir" ./host
