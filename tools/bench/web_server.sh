# shellcheck shell=bash
# A real HTTP/1.1 web server with keep-alive for the benchmarks: Debian's
# nginx, one process of its own (no master, no daemon), on a free port of
# 127.0.0.1, with a configuration, logs, pid file and temporary folders in a
# folder of the caller's. Sourced by the benchmark scripts:
#   web_server_start DIR ROOT   serves ROOT; sets web_server_pid, web_server_url
#   web_server_stop             stops it by its own pid (call it from the trap)
#   web_server_connections      "REQUESTS CONNECTIONS" logged since the last
#                               web_server_mark, for the requests of this path
#   web_server_mark
# The access log names each request's connection serial number, so a caller
# sees whether a client kept its connection alive between requests.
# shellcheck disable=SC2034  # web_server_url is read by the scripts that source this file
web_server_pid='' web_server_url='' web_server_dir='' web_server_mark_line=0

web_server_start() {  # DIR ROOT
  local dir=$1 root=$2 port temp
  command -v nginx >/dev/null ||
    { echo "web server: nginx is not installed (scripts/bootstrap installs nginx-light)" >&2; return 1; }
  web_server_dir=$dir
  mkdir -p "$dir"
  for temp in body proxy fastcgi uwsgi scgi; do mkdir -p "$dir/$temp"; done
  for _ in 1 2 3 4 5; do
    # A port free a moment ago; when another program takes it first, nginx
    # fails to listen and the next attempt takes another.
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat > "$dir/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
$( [ "$(id -u)" = 0 ] && echo "user root;" )
events { worker_connections 256; }
http {
  log_format bench '\$connection \$connection_requests \$status \$body_bytes_sent "\$request"';
  access_log $dir/access.log bench;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  default_type application/octet-stream;
  sendfile on;
  keepalive_timeout 65s;
  keepalive_requests 10000;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
}
EOF
    : > "$dir/access.log"
    nginx -e "$dir/error.log" -p "$dir" -c "$dir/nginx.conf" >/dev/null 2>&1 &
    web_server_pid=$!
    for _ in $(seq 1 50); do
      kill -0 "$web_server_pid" 2>/dev/null || break
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        web_server_url="http://127.0.0.1:$port"
        : > "$dir/access.log"
        web_server_mark_line=0
        return 0
      fi
      sleep 0.1
    done
    web_server_stop
  done
  echo "web server: nginx did not start; its log:" >&2
  cat "$dir/error.log" >&2 2>/dev/null || true
  return 1
}

web_server_stop() {
  [ -n "$web_server_pid" ] || return 0
  kill -TERM "$web_server_pid" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$web_server_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$web_server_pid" 2>/dev/null || true
  wait "$web_server_pid" 2>/dev/null || true
  web_server_pid=
}

web_server_mark() { web_server_mark_line=$(wc -l < "$web_server_dir/access.log"); }

web_server_connections() {  # [PATH_PART]
  tail -n "+$((web_server_mark_line + 1))" "$web_server_dir/access.log" |
    awk -v part="${1:-}" 'index($0, part) { n++; c[$1] = 1 }
      END { k = 0; for (x in c) k++; printf "%d %d\n", n, k }'
}
