# Shell helpers of the database fixtures (mariadb-fixture.sh and
# galera-fixture.sh source this file after setting $facts).

fact() { # fact KEY: a value from the facts file, empty when absent
  [ -f "$facts" ] || return 0
  sed -n "s/^$1=//p" "$facts" | head -n1
}

# A finished server may stay a zombie for a while until init reaps it.
alive() {
  kill -0 "$1" 2>/dev/null || return 1
  case "$(ps -o stat= -p "$1" 2>/dev/null)" in
    Z*|"") return 1 ;;
  esac
}

port_free() {
  [ -z "$(ss -Hltn "( sport = :$1 )" 2>/dev/null)" ]
}
