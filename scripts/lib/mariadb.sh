# Throwaway MariaDB server for tests and benchmarks: its own data folder and socket, loopback only.
# Usage: source this file, then mariadb_start DIR [PORT] / mariadb_stop DIR.
# After mariadb_start: GT_MYSQL_HOST, GT_MYSQL_PORT, GT_MYSQL_USER, GT_MYSQL_PASSWORD are exported,
# and GT_MYSQL_SOCKET and GT_MYSQL_PID (the server's process, for the benchmark's CPU figures).

mariadb_free_port() {
  local port
  while :; do
    port=$(( 20000 + RANDOM % 20000 ))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

mariadb_start() {
  local dir="$1" port="${2:-}"
  [ -n "$port" ] || port=$(mariadb_free_port)
  mariadb_stop "$dir" 2>/dev/null || true
  rm -rf "$dir"
  mkdir -p "$dir/data" "$dir/tmp"
  # Its own temporary folder: nothing else on the machine can disturb the bootstrap's files.
  local attempt
  for attempt in 1 2; do
    rm -rf "$dir/data" && mkdir -p "$dir/data"
    if mariadb-install-db --no-defaults --user=root --datadir="$dir/data" --tmpdir="$dir/tmp" \
         --auth-root-authentication-method=socket --skip-test-db --skip-name-resolve \
         >"$dir/install.log" 2>&1; then
      break
    fi
    if [ "$attempt" = 2 ]; then
      cat "$dir/install.log" >&2
      return 1
    fi
  done
  mariadbd --no-defaults --user=root --datadir="$dir/data" --tmpdir="$dir/tmp" \
    --socket="$dir/mysqld.sock" --pid-file="$dir/mysqld.pid" --log-error="$dir/mysqld.err" \
    --bind-address=127.0.0.1 --port="$port" --skip-name-resolve \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
    --local-infile=1 --max-connections=200 >/dev/null 2>&1 &
  local i
  for i in $(seq 1 300); do
    if mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot ping >/dev/null 2>&1; then
      break
    fi
    sleep 0.1
  done
  if ! mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot ping >/dev/null 2>&1; then
    echo "El servidor MariaDB de pruebas no arrancó:" >&2
    cat "$dir/mysqld.err" >&2
    return 1
  fi
  local password="gt-$RANDOM$RANDOM"
  mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot <<SQL
CREATE USER 'gtprueba'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO 'gtprueba'@'127.0.0.1' WITH GRANT OPTION;
CREATE USER 'gtprueba'@'localhost' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO 'gtprueba'@'localhost' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
  export GT_MYSQL_HOST=127.0.0.1 GT_MYSQL_PORT="$port" GT_MYSQL_USER=gtprueba
  export GT_MYSQL_PASSWORD="$password" GT_MYSQL_SOCKET="$dir/mysqld.sock"
  GT_MYSQL_PID=$(cat "$dir/mysqld.pid")
  export GT_MYSQL_PID
  echo "Servidor MariaDB de pruebas en 127.0.0.1:$port ($dir)"
}

mariadb_stop() {
  local dir="$1"
  [ -f "$dir/mysqld.pid" ] || return 0
  local pid
  pid=$(cat "$dir/mysqld.pid" 2>/dev/null) || return 0
  mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot shutdown >/dev/null 2>&1 \
    || kill "$pid" 2>/dev/null || true
  local i
  for i in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}
