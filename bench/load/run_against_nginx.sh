#!/usr/bin/env bash
# Runs zel_load's raw, session and client lanes against a loopback nginx (one worker, a static 73-byte
# JSON envelope): HTTP/1.1 keep-alive at C=8 and C=64, then HTTPS + HTTP/2 at C=64.
# Usage: bench/load/run_against_nginx.sh [build-dir] [requests]
set -euo pipefail
build=${1:-build}
requests=${2:-100000}
load="$build/bench/zel_load"
[ -x "$load" ] || { echo "build $load first (make bench)" >&2; exit 1; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

dir=$(mktemp -d /tmp/zel-nginx.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -QUIT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
http_port=$(free_port)
https_port=$(free_port)

# A CA made now, and a server certificate for 127.0.0.1 signed by it.
openssl ecparam -name prime256v1 -genkey -noout -out "$dir/ca.key" 2>/dev/null
openssl req -x509 -new -key "$dir/ca.key" -subj "/CN=zel load CA" -days 2 -out "$dir/ca.pem" 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out "$dir/server.key" 2>/dev/null
openssl req -new -key "$dir/server.key" -subj "/CN=localhost" -out "$dir/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > "$dir/ext.cnf"
openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
  -days 2 -extfile "$dir/ext.cnf" -out "$dir/server.pem" 2>/dev/null

envelope='{"status":"success","code":0,"message":"ok","data":{"n":1},"bookmark":""}'
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat > "$dir/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_requests 10000000;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server {
    listen 127.0.0.1:$http_port;
    listen 127.0.0.1:$https_port ssl http2;
    ssl_certificate $dir/server.pem;
    ssl_certificate_key $dir/server.key;
    location = /envelope { default_type application/json; return 200 '$envelope'; }
  }
}
CONF
"$nginx_bin" -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" &
pid=$!
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/$https_port) 2>/dev/null && break
  sleep 0.1
done

echo "# HTTP/1.1 keep-alive, C=8"
"$load" --url "http://127.0.0.1:$http_port/envelope" --requests "$requests" --concurrency 8 --lane raw --lane session --lane client --repeat "${REPEAT:-5}"
echo "# HTTP/1.1 keep-alive, C=64"
"$load" --url "http://127.0.0.1:$http_port/envelope" --requests "$requests" --concurrency 64 --lane raw --lane session --lane client --repeat "${REPEAT:-5}"
echo "# HTTPS + HTTP/2 (one connection), C=64"
"$load" --url "https://127.0.0.1:$https_port/envelope" --requests "$requests" --concurrency 64 --http2 \
  --cacert "$dir/ca.pem" --lane raw --lane session --lane client --repeat "${REPEAT:-5}"
