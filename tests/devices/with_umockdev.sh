#!/bin/sh
# Runs a test program with the device mock preloaded. ASan must accept a library that is loaded
# before its own runtime; TSan must not judge the mock's own thread, which it cannot see into.
here=$(dirname "$0")
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/tsan_suppressions.txt"
export ASAN_OPTIONS TSAN_OPTIONS
exec umockdev-wrapper "$@"
