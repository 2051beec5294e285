#!/usr/bin/env bash
# End to end through the real program: two profiles in a scratch
# PLEXISYNC_HOME exchange a mail with an attachment through the post office.
# The recipient must see the subject, the body, the sender and the
# attachment's exact bytes.
set -euo pipefail
bin="$1"
work="$(mktemp -d /tmp/plexisync-e2e.XXXXXX)"
trap 'rm -rf "$work"' EXIT
export PLEXISYNC_HOME="$work/home"
unset PLEXISYNC_PROFILE

fail() { echo "FAIL: $*" >&2; exit 1; }
px() { "$bin" --batch "$@"; }
# A field of the JSON document on stdin, by a Python expression on `d`.
field() { python3 -c 'import json,sys; d=json.load(sys.stdin); print(eval(sys.argv[1]))' "$1"; }

px profile create alice --name "Alice Adams" --address alice@example.org \
  --answer OK --answer Yes --answer OK >"$work/create-alice.txt"
px profile create bob --name "Bob Brown" --address bob@example.org \
  --answer OK --answer Yes --answer OK >"$work/create-bob.txt"
grep -q "You have launched Plexisync for the first time." "$work/create-alice.txt" || fail "no first-start greeting"

# An attachment with every byte value, some text and a few random bytes.
python3 - "$work/payload.bin" <<'PY'
import os, sys
data = bytes(range(256)) * 8 + "Grüße\r\n\x00end".encode() + os.urandom(1000)
open(sys.argv[1], "wb").write(data)
PY

px -p alice mail send --to "Bob Brown <bob@example.org>" --subject "Numbers for Q3" \
  --body "Hello Bob,
the numbers are attached." --attach "$work/payload.bin" >/dev/null
[ "$(px -p alice mail list Outbox --json | field 'len(d)')" = 1 ] || fail "mail not in the Outbox"
px -p alice send-receive | grep -q "Sent 1, received 0" || fail "alice did not send"
[ "$(px -p alice mail list "Sent Items" --json | field 'len(d)')" = 1 ] || fail "mail not in Sent Items"
px -p bob send-receive | grep -q "Sent 0, received 1" || fail "bob received nothing"

px -p bob mail list --json >"$work/inbox.json"
[ "$(field 'len(d)' <"$work/inbox.json")" = 1 ] || fail "bob's Inbox does not hold one mail"
id="$(field 'd[0]["entryId"]' <"$work/inbox.json")"

px -p bob mail show Inbox "$id" --json --save-attachments "$work/saved" >"$work/mail.json"
[ "$(field 'd["subject"]' <"$work/mail.json")" = "Numbers for Q3" ] || fail "subject"
[ "$(field 'd["from"]["address"]' <"$work/mail.json")" = "alice@example.org" ] || fail "sender address"
[ "$(field 'd["from"]["name"]' <"$work/mail.json")" = "Alice Adams" ] || fail "sender name"
[ "$(field 'd["body"].replace("\r\n", "\n")' <"$work/mail.json")" = "Hello Bob,
the numbers are attached." ] || fail "body"
[ "$(field 'd["unread"]' <"$work/mail.json")" = True ] || fail "not unread"
[ "$(field 'd["attachments"][0]["name"]' <"$work/mail.json")" = "payload.bin" ] || fail "attachment name"
cmp "$work/payload.bin" "$work/saved/payload.bin" || fail "attachment bytes differ"

# The text form a person reads says the same.
px -p bob mail show Inbox "$id" >"$work/mail.txt"
grep -q "^From:     Alice Adams <alice@example.org>$" "$work/mail.txt" || fail "text sender"
grep -q "^Subject:  Numbers for Q3$" "$work/mail.txt" || fail "text subject"
grep -q "^the numbers are attached.$" "$work/mail.txt" || fail "text body"

# Nothing is fetched twice, and alice got nothing.
px -p bob send-receive | grep -q "Sent 0, received 0" || fail "second fetch was not empty"
[ "$(px -p alice mail list --json | field 'len(d)')" = 0 ] || fail "alice's Inbox is not empty"

# A word is not an address: refused with one line and exit code 1, and
# nothing goes out, not even to the good recipients beside it.
refused() {
  local rc=0
  px "$@" >/dev/null 2>"$work/err.txt" || rc=$?
  [ "$rc" = 1 ] || fail "exit code $rc for: $*"
  [ "$(wc -l <"$work/err.txt")" = 1 ] || fail "not one error line for: $*"
  grep -q "not an e-mail address" "$work/err.txt" || fail "no address error for: $*"
}
refused -p alice mail send --to bob --subject "to a word"
refused -p alice mail send --to bob@example.org --cc "carol smith" --subject "one bad copy"
refused -p alice mail send --to bob@example.org --bcc "x@nodot" --subject "one bad blind copy"
refused profile create carol --name "Carol" --address "not an address"
[ ! -e "$PLEXISYNC_HOME/carol" ] || fail "a profile was made for a bad address"
[ "$(px -p alice mail list Outbox --json | field 'len(d)')" = 0 ] || fail "a refused mail is in the Outbox"
px -p alice send-receive | grep -q "Sent 0, received 0" || fail "alice sent something"
px -p bob send-receive | grep -q "Sent 0, received 0" || fail "bob got a refused mail"
for box in "$PLEXISYNC_HOME"/postoffice/*; do
  case "$(basename "$box")" in alice@example.org|bob@example.org) ;; *) fail "unexpected mailbox $box" ;; esac
done
# Every message bob got is marked received in his Maildir; none waits.
[ -z "$(ls -A "$PLEXISYNC_HOME/postoffice/bob@example.org/new")" ] || fail "mail left in new/"
for f in "$PLEXISYNC_HOME"/postoffice/bob@example.org/cur/*; do
  case "$f" in *:2,S) ;; *) fail "not marked received: $f" ;; esac
done

echo "two profiles exchanged a mail with an attachment"
