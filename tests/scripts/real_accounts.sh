#!/usr/bin/env bash
# End to end through the real program with real mail servers (Dovecot and an
# SMTP server, scripts/mail-servers.sh): alice sends through SMTP with
# STARTTLS and receives from IMAPS, bob sends through SMTPS and receives from
# IMAP with STARTTLS; nothing goes through the post office. Checked: a plain
# mail arrives once; alice shares a folder with bob and his send-receive
# applies the update mail; bob changes a contact and sends it back, alice
# answers Yes; every message is fetched once across repeated send-receives,
# also after a send-receive killed with SIGKILL while fetching 150 messages;
# the failures (wrong password, unknown host, server not reachable,
# certificate not trusted, no INBOX, servers stopped) each end with exit
# code 1 and a one-line message naming the account; no password ever shows in
# the program's output or in a file of the profiles' home.
set -euo pipefail
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
servers_sh="$here/../../scripts/mail-servers.sh"
work="$(mktemp -d /tmp/plexisync-real.XXXXXX)"
srv="$work/servers"
# The servers' unprivileged processes reach their folder through this one.
chmod 711 "$work"
cleanup() {
  bash "$servers_sh" stop "$srv" >/dev/null 2>&1 || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
export PLEXISYNC_HOME="$work/home"
unset PLEXISYNC_PROFILE

fail() { echo "FAIL: $*" >&2; exit 1; }
# Every output of the program is kept, to look for passwords in it at the end.
px() { "$bin" --batch "$@" 2>&1 | tee -a "$work/all-output.txt"; return "${PIPESTATUS[0]}"; }
# Runs a command that must succeed, its output kept in $work/out.txt.
run() { px "$@" >"$work/out.txt" || { cat "$work/out.txt" >&2; fail "plexisync $*"; }; }
has() { grep -qF -- "$1" "$work/out.txt" || { cat "$work/out.txt" >&2; fail "${2:-no \"$1\"}"; }; }
hasnt() { ! grep -qF -- "$1" "$work/out.txt" || { cat "$work/out.txt" >&2; fail "${2:-unexpected \"$1\"}"; }; }
# A Python expression on the JSON document of file $2 (`d`) must hold.
check() {
  python3 -c 'import json,sys; d=json.load(open(sys.argv[2])); by={c.get("fullName"): c for c in d} if isinstance(d, list) else {}; sys.exit(0 if eval(sys.argv[1]) else 1)' \
    "$1" "$2" || { cat "$2" >&2; fail "$3"; }
}

bash "$servers_sh" start "$srv" >"$work/start.txt" 2>&1 || { cat "$work/start.txt" >&2; fail "the mail servers did not start"; }
# shellcheck disable=SC1091
. "$srv/servers.env"
mkdir -p "$work/pw"
passwords=()
while IFS=: read -r user password; do
  printf '%s\n' "$password" >"$work/pw/$user"
  passwords+=("$password")
done <"$srv/users"
wrong_password="Wr0ng-Pa55word-$$"
printf '%s\n' "$wrong_password" >"$work/pw/wrong"
passwords+=("$wrong_password")

px profile create alice --name "Alice Adams" --address alice@example.org \
  --smtp "smtp://127.0.0.1:$SMTP_PORT" --imap "imaps://127.0.0.1:$IMAPS_PORT" --user alice \
  --password-command "cat $work/pw/alice" --ca-file "$CA_FILE" \
  --answer OK --answer Yes --answer OK >/dev/null || fail "profile create alice"
px profile create bob --name "Bob Brown" --address bob@example.org \
  --smtp "smtps://127.0.0.1:$SMTPS_PORT" --imap "imap://127.0.0.1:$IMAP_PORT" --user bob \
  --password-command "cat $work/pw/bob" --ca-file "$CA_FILE" \
  --answer OK --answer Yes --answer OK >/dev/null || fail "profile create bob"
for who in alice bob; do
  # Updates go out by the update command only (see round_trip.sh).
  px -p "$who" options --set AutoUpdate=0 >/dev/null
done

# Server-side messages of a user (new and cur), and the post office's.
server_count() { find "$MAIL_DIR/$1/Maildir/new" "$MAIL_DIR/$1/Maildir/cur" -type f | wc -l; }
post_office_count() { find "$PLEXISYNC_HOME/postoffice" -type f -path '*/new/*' -o -type f -path '*/cur/*' | wc -l; }
inbox_json() { px -p "$1" mail list --json >"$work/$1-inbox.json"; }

# ---- A plain mail goes through the servers and arrives once ----
px -p alice mail send --to "Bob Brown <bob@example.org>" --subject "Hello over SMTP" --body "Hi Bob" >/dev/null
run -p alice send-receive
has "Sent 1, received 0"
[ "$(server_count bob)" = 1 ] || fail "bob's server INBOX does not hold the mail"
run -p bob send-receive
has "received 1"
run -p bob send-receive
has "Sent 0, received 0" "the second fetch was not empty"
inbox_json bob
check '[m["subject"] for m in d].count("Hello over SMTP") == 1' "$work/bob-inbox.json" "bob's Inbox does not hold the mail once"
[ "$(post_office_count)" = 0 ] || fail "mail went through the post office"

# ---- alice shares a folder with bob; his send-receive applies it ----
px -p alice contact add Contacts --set FullName="Bob Brown" --set Email1Address=bob@example.org >/dev/null
px -p alice folder add Contacts/Team >/dev/null
for n in "Dan Diaz" "Eve Evans" "Finn Ford"; do
  px -p alice contact add Contacts/Team --set FullName="$n" --set JobTitle="Team member" \
    --set Body="Notes on $n" >/dev/null
done
run -p alice share Contacts/Team --add "Bob Brown" --send
run -p alice send-receive
run -p bob send-receive
has "Update mails: 1 arrived, 1 applied"
has "Personal Folders/Contacts/Team: new folder, 3 contacts arrived"
run -p bob send-receive
hasnt "Update mails: 1 arrived" "the update mail was fetched twice"
px -p bob contact list Contacts/Team --json --show JobTitle >"$work/bob-team.json"
check 'sorted(by) == ["Dan Diaz", "Eve Evans", "Finn Ford"]' "$work/bob-team.json" "bob's copy"

# ---- bob changes a contact and sends it back; alice answers Yes ----
# A receive stamps the members with its time plus 5 seconds.
sleep 6
px -p bob options --set Dont_Send_Comments=1 >/dev/null
px -p bob contact set Contacts/Team "Dan Diaz" --set JobTitle="Team lead" >/dev/null
run -p bob update Contacts/Team
has "Sent 1 update mail"
run -p bob send-receive
run -p alice send-receive --answer Yes
has "Arrived changes for the Dan Diaz contact"
has "Personal Folders/Contacts/Team: 1 replaced"
px -p alice contact list Contacts/Team --json --show JobTitle >"$work/alice-team.json"
check 'by["Dan Diaz"]["JobTitle"] == "Team lead" and len(d) == 3' "$work/alice-team.json" "alice did not take bob's change"
run -p alice send-receive
hasnt "Arrived changes" "the change was fetched twice"

# ---- Many messages, a send-receive killed while fetching, nothing twice ----
# 150 mails of a few KB straight into bob's server INBOX.
/usr/bin/python3 - "$MAIL_DIR/bob/Maildir" "$MAIL_UID" "$MAIL_GID" <<'PY'
import os, sys, time
maildir, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(150):
    name = "%d.K%d_%d.plexisync-test" % (time.time(), os.getpid(), i)
    body = "".join("Line %d of the weekly report, with enough text to make it a real mail.\n" % j for j in range(40))
    text = ("From: Dave <dave@example.org>\nTo: bob@example.org\nSubject: Bulk %03d\n"
            "Message-ID: <bulk.%03d@example.org>\nDate: Thu, 10 Dec 2026 12:00:00 +0000\n\n%s" % (i, i, body))
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "w") as f:
        f.write(text)
    if os.getuid() == 0:
        os.chown(tmp, uid, gid)
    os.rename(tmp, os.path.join(maildir, "new", name))
PY
# Killed a moment after it logged in to bob's INBOX, while it fetches.
logged=$(wc -l <"$srv/log/dovecot.log")
"$bin" --batch -p bob send-receive >"$work/killed.txt" 2>&1 &
victim=$!
for _ in $(seq 200); do
  tail -n "+$((logged + 1))" "$srv/log/dovecot.log" | grep -q "Login: user=<bob>" && break
  sleep 0.05
done
sleep "${KILL_AFTER:-0.3}"
if kill -9 "$victim" 2>/dev/null; then
  echo "send-receive killed while fetching"
else
  echo "note: send-receive ended before it could be killed"
fi
wait "$victim" 2>/dev/null || true
cat "$work/killed.txt" >>"$work/all-output.txt"
run -p bob send-receive
run -p bob send-receive
has "Sent 0, received 0" "a third send-receive still fetched"
inbox_json bob
check 'sorted(m["subject"] for m in d if m["subject"].startswith("Bulk ")) == ["Bulk %03d" % i for i in range(150)]' \
  "$work/bob-inbox.json" "bob's Inbox does not hold each of the 150 mails exactly once"

# ---- Failures: exit code 1 and one line naming the account ----
# A certificate nobody signed for these servers, and a port nothing listens on.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/other-key.pem" \
  -out "$work/other-ca.pem" -days 2 -subj /CN=127.0.0.1 -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1
dead_port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
imaps="imaps://127.0.0.1:$IMAPS_PORT"
smtp="smtp://127.0.0.1:$SMTP_PORT"
# name | user | smtp | imap | password file | CA file | what the line must say (extended regex, no case)
cases=(
  "imap-wrong-password|carol||$imaps|wrong|$CA_FILE|password|login|authenticat"
  "smtp-wrong-password|carol|$smtp||wrong|$CA_FILE|password|login|authenticat"
  "imap-unknown-host|carol||imaps://no-such-host.invalid|carol|$CA_FILE|host|resolve"
  "smtp-unknown-host|carol|smtp://no-such-host.invalid||carol|$CA_FILE|host|resolve"
  "imap-server-down|carol||imaps://127.0.0.1:$dead_port|carol|$CA_FILE|reach|connect"
  "smtp-server-down|carol|smtps://127.0.0.1:$dead_port||carol|$CA_FILE|reach|connect"
  "imap-untrusted|carol||$imaps|carol|$work/other-ca.pem|certificate|TLS"
  "smtp-untrusted|carol|$smtp||carol|$work/other-ca.pem|certificate|TLS"
  "no-inbox|nobox||$imaps|nobox|$CA_FILE|INBOX|mailbox"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name user smtp_url imap_url pwfile ca why <<<"$c"
  args=(--user "$user" --password-command "cat $work/pw/$pwfile" --ca-file "$ca")
  [ -n "$smtp_url" ] && args+=(--smtp "$smtp_url")
  [ -n "$imap_url" ] && args+=(--imap "$imap_url")
  address="$user@example.org"
  px profile create "$name" --name "Carol Cole" --address "$address" "${args[@]}" \
    --answer OK --answer Yes --answer OK >/dev/null || fail "$name: profile create"
  # Something to send, so that the SMTP server is asked.
  [ -n "$smtp_url" ] && px -p "$name" mail send --to bob@example.org --subject "Will not go" --body x >/dev/null
  set +e
  px -p "$name" send-receive >"$work/out.txt"
  rc=$?
  set -e
  [ "$rc" = 1 ] || { cat "$work/out.txt" >&2; fail "$name: exit code $rc, not 1"; }
  grep -iE -- "$why" "$work/out.txt" | grep -qF -- "$address" \
    || { cat "$work/out.txt" >&2; fail "$name: no line naming $address and saying ${why//|/ or }"; }
  if [ -n "$smtp_url" ]; then
    px -p "$name" mail list Outbox --json >"$work/outbox.json"
    check 'len(d) == 1' "$work/outbox.json" "$name: the mail left the Outbox although it was not sent"
  fi
done

# ---- The servers stop: alice's send-receive fails cleanly ----
bash "$servers_sh" stop "$srv" >/dev/null
set +e
px -p alice send-receive >"$work/out.txt"
rc=$?
set -e
[ "$rc" = 1 ] || { cat "$work/out.txt" >&2; fail "servers stopped: exit code $rc, not 1"; }
grep -F alice@example.org "$work/out.txt" | grep -qiE "reach|connect" \
  || { cat "$work/out.txt" >&2; fail "servers stopped: no line naming alice@example.org"; }

# ---- No password anywhere ----
for p in "${passwords[@]}"; do
  if grep -rlF -- "$p" "$PLEXISYNC_HOME" >"$work/leak.txt" 2>/dev/null; then
    fail "a password is written in: $(tr '\n' ' ' <"$work/leak.txt")"
  fi
  ! grep -qF -- "$p" "$work/all-output.txt" || fail "a password shows in the program's output"
done

echo "real accounts: mail, a share, a change sent back, no duplicates after a kill, failures and no password checked"
