#!/usr/bin/env bash
# The shared library exports its interface and nothing else: the public class, the five
# free functions and the C API. Any other symbol would tie hosts to the implementation.
set -euo pipefail
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | c++filt)
count=0
bad=0
while IFS= read -r symbol; do
    [ -z "$symbol" ] && continue
    count=$((count + 1))
    case "$symbol" in
        QVDECODER_1 | "QVDecoderInitialize()" | "QVDecoderDestroy()" | "SavePicture("* | "WriteBmpFile("* | "QVDecoderSetFFmpegLog("*) ;;
        QVDecoder::QV* | "QVDecoder::QVDecoder("* | "QVDecoder::~QVDecoder()" | "QVDecoder::operator=(QVDecoder&&)") ;;
        qv_*) ;;
        *) echo "not part of the interface: $symbol"; bad=$((bad + 1)) ;;
    esac
done <<< "$symbols"
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
if [ "$soname" != "libqvdecoder.so.1" ]; then
    echo "SONAME is '$soname', expected libqvdecoder.so.1"
    bad=$((bad + 1))
fi
echo "$count exported symbols, $bad unexpected"
[ "$bad" -eq 0 ] && [ "$count" -gt 40 ]
