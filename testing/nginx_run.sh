# Sourced (through fixture.sh) by the scripts and tests that run Debian's
# nginx with the module from a private prefix WORK (configuration, pid, logs
# and temporary files all inside it), never as a daemon.

# nginx_config FILE PORT WORK MODULE LOCATIONS [HTTP_LINES] [LOG_LEVEL]
# The workers run as nginx_worker_user ("USER GROUP") when it is set; an
# empty MODULE loads none.
nginx_config() {
  local user=
  # As root nginx would run its workers as nobody, who may not reach WORK.
  [ "$(id -u)" != 0 ] || user="user $(id -un) $(id -gn);"
  [ -z "${nginx_worker_user:-}" ] || user="user $nginx_worker_user;"
  mkdir -p "$3/tmp"
  cat >"$1" <<EOF
${4:+load_module $4;}
$user
pid $3/nginx.pid;
error_log $3/error.log ${7:-info};
worker_processes 1;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  sendfile on;
  client_body_temp_path $3/tmp; proxy_temp_path $3/tmp; fastcgi_temp_path $3/tmp;
  uwsgi_temp_path $3/tmp; scgi_temp_path $3/tmp;
  $6
  server {
    listen 127.0.0.1:$2;
    $5
  }
}
EOF
}

# nginx_start WORK WRITE_CONFIG PATH [SCHEME]: picks a port nothing listens
# on, has `WRITE_CONFIG PORT` write WORK/nginx.conf, starts nginx in the
# foreground as a child and waits until PATH answers (over SCHEME, http by
# default; https with any certificate). Sets nginx_pid and nginx_port;
# false (nginx's messages on standard error) after ten tries.
nginx_start() {
  local attempt
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    nginx_port=$((20000 + RANDOM % 40000))
    if awk '$4 == "0A" { print $2 }' /proc/net/tcp | grep -qi ":$(printf %04X $nginx_port)\$"; then
      continue
    fi
    "$2" "$nginx_port"
    /usr/sbin/nginx -p "$1" -c "$1/nginx.conf" -g "daemon off;" 2>"$1/nginx.stderr" &
    nginx_pid=$!
    for _ in $(seq 50); do
      curl -sfkI -o /dev/null "${4:-http}://127.0.0.1:$nginx_port$3" && return 0
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    nginx_stop
  done
  cat "$1/nginx.stderr" >&2
  return 1
}

nginx_stop() { stop_child nginx_pid; }
