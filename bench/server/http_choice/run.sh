#!/usr/bin/env bash
# Builds the three candidate servers and measures each with wrk at 64
# connections: cpp-httplib, libmicrohttpd and Boost.Beast (Debian's
# libcpp-httplib-dev, libmicrohttpd-dev, libboost-dev).
set -euo pipefail
cd "$(dirname "$0")"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
g++ -O2 -std=c++20 httplib_hello.cpp -o "$OUT/httplib" $(pkg-config --cflags --libs cpp-httplib) -pthread
g++ -O2 -std=c++20 mhd_hello.cpp -o "$OUT/mhd" -lmicrohttpd
g++ -O2 -std=c++20 beast_hello.cpp -o "$OUT/beast" -pthread
for s in httplib:18081 mhd:18082 beast:18083; do
  name=${s%%:*} port=${s##*:}
  "$OUT/$name" &
  pid=$!
  sleep 0.5
  echo "== $name"
  wrk -t2 -c64 -d10s --latency "http://127.0.0.1:$port/api/v1/scores" | grep -E 'Requests/sec|50%|99%'
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
