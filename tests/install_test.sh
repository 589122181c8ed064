#!/usr/bin/env bash
# An installed tree is all a host needs: install into a temporary prefix, then build the README's
# C++ example with pkg-config and with find_package, and its C example with pkg-config, against
# that tree alone, and run them; the installed tool and the Python package find the installed
# library by themselves.
set -euo pipefail
build=$1
src=$2
python=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset LD_LIBRARY_PATH QVDECODER_LIBRARY

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libqvdecoder.so.1 lib/libqvdecoder.so lib/libG7221.so include/QVDecoder.h \
         include/qvdecoder_c.h bin/qvdecode lib/pkgconfig/qvdecoder.pc \
         lib/cmake/QVDecoder/QVDecoderConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
"$prefix/bin/qvdecode" info "$src/samples/clip.mp4" >/dev/null

sed -n '/^```cpp/,/^```$/p' "$src/README.md" | sed '1d;$d' > "$work/host.cpp"
sed -n '/^```c$/,/^```$/p' "$src/README.md" | sed '1d;$d' > "$work/host.c"
[ -s "$work/host.cpp" ] && [ -s "$work/host.c" ] || { echo "README.md lacks a C++ or C example"; exit 1; }

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046
g++ -std=c++17 -Wall -Wextra -Werror "$work/host.cpp" $(pkg-config --cflags --libs qvdecoder) -o "$work/host_pc"
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -pedantic -Werror "$work/host.c" $(pkg-config --cflags --libs qvdecoder) -o "$work/host_c"

mkdir "$work/cmake_host"
cp "$work/host.cpp" "$work/cmake_host/"
cat > "$work/cmake_host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(host CXX)
find_package(QVDecoder 1 REQUIRED)
add_executable(host host.cpp)
target_compile_features(host PRIVATE cxx_std_17)
target_link_libraries(host PRIVATE QVDecoder::qvdecoder)
CMAKE
cmake -S "$work/cmake_host" -B "$work/cmake_build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake_build" >/dev/null

cd "$work"
LD_LIBRARY_PATH=$prefix/lib ./host_pc
./cmake_build/host   # CMake's build RPATH points into the prefix
LD_LIBRARY_PATH=$prefix/lib ./host_c "$src/samples/clip.mp4" | tee c.out
grep -qx "100 pictures" c.out

if [ -n "$python" ]; then
  # A Python package installed into the same prefix loads the library of that prefix.
  cp -r "$src/python" "$work/python_src"
  rm -rf "$work/python_src/tests" "$work/python_src/build"
  "$python" -m pip install --quiet --no-deps --no-build-isolation --prefix "$prefix" "$work/python_src" 2>/dev/null
  site=$(dirname "$(find "$prefix" -path '*/qvdecoder/__init__.py' | head -1)")
  loaded=$(cd / && PYTHONPATH=$(dirname "$site") "$python" -c 'import qvdecoder; print(qvdecoder.library_path())')
  case "$loaded" in
    "$(realpath "$prefix")"/lib/*) ;;
    *) echo "the installed Python package loaded $loaded"; exit 1 ;;
  esac
fi
echo "installed tree at $prefix works"
