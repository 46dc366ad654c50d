# Sourced by the benchmarks that fetch through a paced relay: a temporary folder, nginx on a free
# loopback port serving "$work/root", and relays in front of it, all gone at the end.
#
#   bench_site NAME           makes $work (TMPDIR or /tmp), starts nginx, sets $port
#   bench_relay RATE          starts build/bench/bench_relay in front of nginx, pacing each
#                             connection to RATE bytes per second (0: no pacing); sets
#                             $relay_port
#
# The caller builds bench_relay first and has "$work/root" filled before it fetches.

relay_pids=()
bench_cleanup() {
  for pid in "${relay_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  if [ -n "${work:-}" ] && [ -s "$work/nginx.pid" ]; then
    kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    for _ in $(seq 100); do [ -e "$work/nginx.pid" ] || break; sleep 0.05; done
  fi
  [ -n "${work:-}" ] && rm -rf "$work"
  return 0
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

bench_site() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-$1.XXXXXX")
  trap bench_cleanup EXIT
  mkdir -p "$work/root" "$work/tmp"
  port=$(free_port)
  # Paths are quoted: TMPDIR may hold blanks.
  cat >"$work/nginx.conf" <<CONF
daemon on;
master_process off;
worker_processes 1;
pid "$work/nginx.pid";
error_log "$work/error.log" warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path "$work/tmp";
  proxy_temp_path "$work/tmp";
  fastcgi_temp_path "$work/tmp";
  uwsgi_temp_path "$work/tmp";
  scgi_temp_path "$work/tmp";
  default_type application/octet-stream;
  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root "$work/root";
  }
}
CONF
  /usr/sbin/nginx -p "$work/" -e "$work/error.log" -c "$work/nginx.conf"
  for _ in $(seq 200); do [ -s "$work/nginx.pid" ] && break; sleep 0.05; done
}

bench_relay() {
  local fifo="$work/relay-$RANDOM.port"
  mkfifo "$fifo"
  "$PWD/build/bench/bench_relay" "$port" "$1" >"$fifo" &
  relay_pids+=($!)
  read -r relay_port <"$fifo"
  rm -f "$fifo"
}
