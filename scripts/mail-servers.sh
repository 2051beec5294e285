#!/usr/bin/env bash
# Real mail servers on loopback for the tests: Dovecot (IMAP) and a small
# aiosmtpd server (SMTP), on free ports, everything under one folder.
#
#   mail-servers.sh start DIR [--user NAME:PASSWORD]...
#   mail-servers.sh stop DIR
#
# start writes into DIR (which it creates):
#   ca.pem          the self-signed certificate (CN 127.0.0.1, SAN 127.0.0.1
#                   and localhost) both servers use; clients trust this file
#   tls/key.pem     its key
#   users           the test users, "name:password" lines
#   dovecot/        dovecot.conf and the passwd-file
#   mail/NAME/Maildir  each user's INBOX, owned by the mail user
#   run/ state/     Dovecot's base_dir and state_dir
#   log/            dovecot.log and smtp.log
#   servers.env     shell-sourceable: IMAPS_PORT IMAP_PORT SMTPS_PORT SMTP_PORT
#                   CA_FILE MAIL_DIR MAIL_DOMAIN MAIL_UID MAIL_GID DOVECOT_PID
#                   SMTP_PID USERS_FILE DOVECOT_INSTANCE (the title prefix of
#                   Dovecot's processes)
# and returns once every port accepts connections (non-zero exit and the
# logs' tail when a server does not come up).
#
# Users: alice, bob, carol and dave, password "<name>-secret", addresses
# <name>@example.org, plus "nobox" (password "nobox-secret"), who can log in
# but has no INBOX (SELECT INBOX fails), for the error of a missing mailbox. --user NAME:PASSWORD adds or replaces one.
#
# Listeners: IMAP with STARTTLS and IMAPS (Dovecot), SMTP with STARTTLS
# required before AUTH and SMTPS (aiosmtpd); AUTH PLAIN and LOGIN; the SMTP
# server refuses recipients other than known users with 550 and delivers into
# their Maildirs.
#
# Run as root, Dovecot's master runs as root, its login processes as dovenull,
# auth and internal processes as dovecot, mail processes and the SMTP server as
# the system user "plexisync-mail" (created when missing). Run as anyone else,
# everything runs as the calling user. Nothing is written outside DIR (except
# creating that system user once).
#
# stop ends both servers and waits for them; stopping twice is harmless.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
domain="example.org"
mail_user="plexisync-mail"
python=/usr/bin/python3
dovecot=/usr/sbin/dovecot

die() { echo "mail-servers: $*" >&2; exit 1; }

usage() { die "usage: $0 start DIR [--user NAME:PASSWORD]... | stop DIR"; }

# Whether process $1 runs (a zombie waiting for init to reap it has ended).
alive() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"
  [ "${stat:0:1}" != Z ]
}

# Waits up to $2 tenths of a second for process $1 to end.
wait_gone() {
  local pid="$1" n="$2"
  while alive "$pid" && ((n-- > 0)); do sleep 0.1; done
  ! alive "$pid"
}

# Whether process $1 runs with the argument $2 on its command line.
runs_with() {
  alive "$1" && tr '\0' '\n' <"/proc/$1/cmdline" 2>/dev/null | grep -qxF -- "$2"
}

stop_pid() {
  local pid="$1"
  [ -n "$pid" ] && alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  wait_gone "$pid" 50 || { kill -KILL "$pid" 2>/dev/null || true; wait_gone "$pid" 20 || true; }
}

stop() {
  local dir="$1"
  [ -d "$dir" ] || return 0
  local pid
  if [ -f "$dir/run/master.pid" ]; then
    pid="$(cat "$dir/run/master.pid" 2>/dev/null || true)"
    # Only our Dovecot: the process must still be the one started with our
    # configuration.
    if [ -n "$pid" ] && runs_with "$pid" "$dir/dovecot/dovecot.conf"; then
      # Dovecot's master lingers a second or two after SIGTERM; its processes
      # form their own process group (the master's session), which is killed
      # after a short grace.
      kill -TERM "$pid" 2>/dev/null || true
      if ! wait_gone "$pid" 3; then
        if [ "$(ps -o pgid= -p "$pid" 2>/dev/null | tr -d ' ')" = "$pid" ]; then
          kill -KILL -- "-$pid" 2>/dev/null || true
        else
          kill -KILL "$pid" 2>/dev/null || true
        fi
        wait_gone "$pid" 50 || die "Dovecot (pid $pid) did not end"
      fi
      # Its processes go with it.
      local n=50 p left
      while ((n-- > 0)); do
        left=0
        for p in $(pgrep -g "$pid" 2>/dev/null); do alive "$p" && left=1; done
        ((left)) || break
        sleep 0.1
      done
    fi
    rm -f "$dir/run/master.pid"
  fi
  if [ -f "$dir/smtp.pid" ]; then
    pid="$(cat "$dir/smtp.pid" 2>/dev/null || true)"
    if [ -n "$pid" ] && runs_with "$pid" "$dir/users"; then stop_pid "$pid"; fi
    rm -f "$dir/smtp.pid"
  fi
}

# Four distinct free loopback ports (held together while picked).
free_ports() {
  "$python" -c '
import socket
socks = []
for _ in range(4):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))'
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

log_tail() {
  local dir="$1" f
  for f in "$dir"/log/*.log; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -n 15 "$f" >&2; }
  done
  return 0
}

start() {
  local dir="$1"; shift
  declare -A users=([alice]=alice-secret [bob]=bob-secret [carol]=carol-secret [dave]=dave-secret
                    [nobox]=nobox-secret)
  local order=(alice bob carol dave nobox)
  while (($#)); do
    case "$1" in
      --user)
        [ $# -ge 2 ] || usage
        [[ "$2" =~ ^[a-z0-9._-]+:[^:[:space:]]+$ ]] || die "bad --user \"$2\": NAME:PASSWORD, name a-z 0-9 . _ -, no colon in the password"
        local n="${2%%:*}"
        [ -n "${users[$n]+x}" ] || order+=("$n")
        users[$n]="${2#*:}"
        shift 2 ;;
      *) usage ;;
    esac
  done
  [ -x "$dovecot" ] || die "$dovecot not found (apt-get install dovecot-imapd)"
  "$python" -c 'import aiosmtpd' 2>/dev/null || die "$python has no aiosmtpd (apt-get install python3-aiosmtpd)"
  command -v openssl >/dev/null || die "openssl not found"

  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  stop "$dir"
  rm -rf "$dir/run" "$dir/state" "$dir/log" "$dir/dovecot" "$dir/tls" "$dir/servers.env"
  mkdir -p "$dir/run" "$dir/state" "$dir/log" "$dir/dovecot" "$dir/tls" "$dir/mail"

  local login_user internal_user muid mgid root=0
  if [ "$(id -u)" -eq 0 ]; then
    root=1
    if ! getent passwd "$mail_user" >/dev/null; then
      # Another instance may be creating it at the same moment.
      useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin "$mail_user" 2>/dev/null || getent passwd "$mail_user" >/dev/null \
        || die "cannot create the system user $mail_user"
    fi
    muid="$(id -u "$mail_user")"; mgid="$(id -g "$mail_user")"
    login_user=dovenull; internal_user=dovecot
    id "$login_user" >/dev/null 2>&1 && id "$internal_user" >/dev/null 2>&1 \
      || die "Dovecot's users dovenull and dovecot are missing"
    # The unprivileged processes must reach their files below DIR, so every
    # folder above DIR must let them through (o+x).
    chmod 711 "$dir"
    local u
    for u in "$internal_user" "$mail_user"; do
      runuser -u "$u" -- test -x "$dir/." 2>/dev/null \
        || die "$u cannot reach $dir: a folder above it does not let others through (chmod o+x it, or use a folder under /tmp)"
    done
  else
    muid="$(id -u)"; mgid="$(id -g)"
    login_user="$(id -un)"; internal_user="$login_user"
  fi

  # The certificate, made fresh at each start.
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$dir/tls/key.pem" -out "$dir/ca.pem" -days 30 -subj /CN=127.0.0.1 \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,digitalSignature,keyCertSign" \
    -addext "extendedKeyUsage=serverAuth" >"$dir/log/openssl.out" 2>&1 \
    || { cat "$dir/log/openssl.out" >&2; die "openssl could not make the certificate"; }
  chmod 600 "$dir/tls/key.pem"

  # Users: the SMTP server's list and Dovecot's passwd-file (with the userdb
  # fields: uid, gid, home).
  : >"$dir/users"
  : >"$dir/dovecot/passwd"
  chmod 600 "$dir/users"
  local n
  for n in "${order[@]}"; do
    printf '%s:%s\n' "$n" "${users[$n]}" >>"$dir/users"
    # nobox's INBOX is a folder that cannot be created: SELECT INBOX fails.
    local extra=""
    [ "$n" = nobox ] && extra="userdb_mail=maildir:~/Maildir:INBOX=/nonexistent/plexisync-inbox"
    printf '%s:{PLAIN}%s:%s:%s::%s::%s\n' "$n" "${users[$n]}" "$muid" "$mgid" "$dir/mail/$n" "$extra" \
      >>"$dir/dovecot/passwd"
    mkdir -p "$dir/mail/$n/Maildir/"{tmp,new,cur}
  done
  if ((root)); then
    chown -R "$muid:$mgid" "$dir/mail"
    chgrp "$(id -g "$internal_user")" "$dir/dovecot/passwd"
    chmod 640 "$dir/dovecot/passwd"
  fi

  # Dovecot's processes are titled "dovecot-<instance>/<service>": unique per DIR.
  local instance
  instance="plexisync-$(basename "$dir")-$(printf '%s' "$dir" | cksum | cut -d' ' -f1)"
  local attempt ports imaps_port imap_port smtps_port smtp_port smtp_pid dovecot_pid
  for attempt in 1 2 3; do
    read -r imaps_port imap_port smtps_port smtp_port <<<"$(free_ports)"
    cat >"$dir/dovecot/dovecot.conf" <<EOF
# Made by mail-servers.sh for the tests; nothing of /etc/dovecot is read.
protocols = imap
listen = 127.0.0.1
base_dir = $dir/run
state_dir = $dir/state
instance_name = $instance
log_path = $dir/log/dovecot.log
info_log_path = $dir/log/dovecot.log
auth_verbose = yes
# Refused logins are answered at once (the tests try wrong passwords).
auth_failure_delay = 0
default_login_user = $login_user
default_internal_user = $internal_user
default_internal_group = $(id -gn "$internal_user")
first_valid_uid = $muid
last_valid_uid = $muid
first_valid_gid = $mgid
mail_location = maildir:~/Maildir
ssl = required
ssl_cert = <$dir/ca.pem
ssl_key = <$dir/tls/key.pem
ssl_min_protocol = TLSv1.2
auth_mechanisms = plain login
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $dir/dovecot/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%n $dir/dovecot/passwd
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $imap_port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $imaps_port
    ssl = yes
  }
$( ((root)) || echo "  chroot =")
}
# No growing delay for repeated refused logins from one address (the tests
# try wrong passwords on purpose): the auth process cannot reach anvil's
# penalty socket and so keeps no penalties.
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
$( ((root)) || echo "  chroot =")
}
service auth-worker {
  user = \$default_internal_user
}
protocol imap {
  mail_max_userip_connections = 100
}
EOF
    rm -f "$dir/run/master.pid"
    if ! "$dovecot" -c "$dir/dovecot/dovecot.conf" >"$dir/log/dovecot.start" 2>&1; then
      cat "$dir/log/dovecot.start" >>"$dir/log/dovecot.log"
      if grep -q "Address already in use" "$dir/log/dovecot.log" && ((attempt < 3)); then continue; fi
      log_tail "$dir"
      die "Dovecot did not start"
    fi

    local uidargs=()
    ((root)) && uidargs=(--uid "$muid" --gid "$mgid")
    "$python" "$here/smtp_server.py" --smtp-port "$smtp_port" --smtps-port "$smtps_port" \
      --cert "$dir/ca.pem" --key "$dir/tls/key.pem" --users "$dir/users" \
      --mail-root "$dir/mail" --domain "$domain" "${uidargs[@]}" \
      </dev/null >>"$dir/log/smtp.log" 2>&1 &
    smtp_pid=$!
    echo "$smtp_pid" >"$dir/smtp.pid"

    # Both up within 10 seconds, every port accepting connections.
    local tries=100 up=0 p
    while ((tries-- > 0)); do
      dovecot_pid="$(cat "$dir/run/master.pid" 2>/dev/null || true)"
      alive "$smtp_pid" || break
      if [ -n "$dovecot_pid" ]; then
        alive "$dovecot_pid" || break
        up=1
        for p in "$imaps_port" "$imap_port" "$smtps_port" "$smtp_port"; do port_open "$p" || { up=0; break; }; done
        ((up)) && break
      fi
      sleep 0.1
    done
    ((up)) && break
    if grep -qs "Address already in use\|address already in use" "$dir"/log/*.log && ((attempt < 3)); then
      stop "$dir"
      continue
    fi
    log_tail "$dir"
    stop "$dir"
    die "the mail servers did not start in $dir"
  done

  cat >"$dir/servers.env.tmp" <<EOF
IMAPS_PORT=$imaps_port
IMAP_PORT=$imap_port
SMTPS_PORT=$smtps_port
SMTP_PORT=$smtp_port
CA_FILE=$dir/ca.pem
MAIL_DIR=$dir/mail
MAIL_DOMAIN=$domain
MAIL_UID=$muid
MAIL_GID=$mgid
DOVECOT_PID=$dovecot_pid
SMTP_PID=$smtp_pid
USERS_FILE=$dir/users
DOVECOT_INSTANCE=dovecot-$instance
EOF
  mv "$dir/servers.env.tmp" "$dir/servers.env"
}

[ $# -ge 2 ] || usage
case "$1" in
  start) start "$2" "${@:3}" ;;
  stop) [ $# -eq 2 ] || usage; stop "$(cd "$2" 2>/dev/null && pwd || echo "$2")"; rm -f "$2/servers.env" ;;
  *) usage ;;
esac
