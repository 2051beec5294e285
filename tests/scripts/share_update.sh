#!/usr/bin/env bash
# End to end through the real program: alice shares a contacts folder with
# bob and carol. Every update mail that reaches their Maildirs in the post
# office is read by Python's email package (update_mail_check.py): subject,
# blind copies only, one attachment "body.pxs" in the update mail's layout.
# Then: an update with nothing changed sends nothing, one changed contact
# sends one record, a deleted contact goes out by the CorrID its record
# carried, and a member far behind a folder of 200+ contacts gets the folder
# as a personal-folders file with the import mail. The members only fetch.
set -euo pipefail
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/plexisync-share.XXXXXX)"
trap 'rm -rf "$work"' EXIT
export PLEXISYNC_HOME="$work/home"
unset PLEXISYNC_PROFILE

fail() { echo "FAIL: $*" >&2; exit 1; }
px() { "$bin" --batch "$@"; }
# A field of the JSON document on stdin, by a Python expression on `d`.
field() { python3 -c 'import json,sys; d=json.load(sys.stdin); print(eval(sys.argv[1]))' "$1"; }
postoffice="$PLEXISYNC_HOME/postoffice"
# The messages in an address's Maildir, by their unique names (new and cur).
messages() { for f in "$postoffice/$1"/new/* "$postoffice/$1"/cur/*; do [ -e "$f" ] && basename "${f%%:2,*}"; done | sort; }
count() { messages "$1" | wc -l; }
# The file of the one message that arrived since the list in file $2.
arrived() {
  local name
  name="$(comm -13 "$2" <(messages "$1"))"
  [ "$(printf '%s\n' "$name" | grep -c .)" = 1 ] || fail "not one new message for $1: $name"
  ls "$postoffice/$1"/new/"$name"* "$postoffice/$1"/cur/"$name"* 2>/dev/null | head -n 1
}
check_mail() { python3 "$here/update_mail_check.py" "$1" "$2" >"$work/check.txt" || { cat "$work/check.txt" >&2; fail "$3"; }; }

for who in "alice|Alice Adams" "bob|Bob Brown" "carol|Carol Cole"; do
  IFS='|' read -r name display <<<"$who"
  px profile create "$name" --name "$display" --address "$name@example.org" \
    --answer OK --answer Yes --answer OK >/dev/null
done

# Alice's contacts: bob and carol in Contacts, a team in Contacts/Team.
px -p alice contact add Contacts --set FullName="Bob Brown" --set Email1Address=bob@example.org >/dev/null
px -p alice contact add Contacts --set FullName="Carol Cole" --set Email1Address=carol@example.org >/dev/null
px -p alice folder add Contacts/Team >/dev/null
declare -A id
for n in "Dan Diaz" "Eve Evans" "Finn Ford"; do
  id[$n]="$(px -p alice contact add Contacts/Team --set FullName="$n" --set JobTitle="Team member" | tail -n 1)"
done
path='Personal Folders$/$Contacts$/$Team$/$'
recipients='[["bob@example.org","Bob Brown"],["carol@example.org","Carol Cole"]]'
hidden='["bob@example.org","carol@example.org"]'

# ---- The first send: every contact, to both ----
px -p alice share Contacts/Team --add "Bob Brown" --add "Carol Cole" --send >"$work/share.txt"
grep -q '^Typing "Bob Brown" into "Search:" and pressing ">>"$' "$work/share.txt" || fail "no >> step"
grep -q '^Stored 2 recipients of Personal Folders/Contacts/Team: Bob Brown, Carol Cole$' "$work/share.txt" \
  || fail "recipients not stored"
px -p alice send-receive >/dev/null
for who in bob carol; do
  [ "$(count "$who@example.org")" = 1 ] || fail "$who's Maildir does not hold one message"
  check_mail "$(ls "$postoffice/$who@example.org"/new/* | head -n 1)" \
    "{\"path\":\"$path\",\"recipients\":$recipients,\"hidden\":$hidden,
      \"records\":[[\"${id[Dan Diaz]}\",\"Dan Diaz\"],[\"${id[Eve Evans]}\",\"Eve Evans\"],[\"${id[Finn Ford]}\",\"Finn Ford\"]]}" \
    "first update mail to $who"
done
px -p alice members Contacts/Team --json >"$work/members.json"
[ "$(field '[m["selected"] and m["lastUpdate"] is not None for m in d["recipients"]]' <"$work/members.json")" \
  = "[True, True]" ] || fail "recipients not stamped"
[ "$(field 'd["updateable"]' <"$work/members.json")" = 1 ] || fail "folder not updateable"
# The members fetch; nothing is applied on their side yet.
px -p bob send-receive | grep -q "received 1" || fail "bob received nothing"
px -p carol send-receive | grep -q "received 1" || fail "carol received nothing"

# ---- Nothing changed: nothing goes out ----
px -p alice update Contacts/Team >"$work/update.txt"
grep -q "^No update mail was sent$" "$work/update.txt" || fail "an unchanged folder was sent"
grep -q "^Stamped 2 of 2 recipients$" "$work/update.txt" || fail "not stamped"
[ "$(count bob@example.org)" = 1 ] && [ "$(count carol@example.org)" = 1 ] || fail "a message for an unchanged folder"

# ---- One changed contact: one record ----
# A send stamps its recipients with its time plus 5 seconds; a change counts
# from then on.
sleep 6
messages bob@example.org >"$work/bob-before.txt"
messages carol@example.org >"$work/carol-before.txt"
px -p alice contact set Contacts/Team "Dan Diaz" --set JobTitle="Team lead" >/dev/null
px -p alice update Contacts/Team | grep -q "^Sent 1 update mail$" || fail "the change was not sent"
for who in bob carol; do
  check_mail "$(arrived "$who@example.org" "$work/$who-before.txt")" \
    "{\"path\":\"$path\",\"recipients\":$recipients,\"hidden\":$hidden,\"records\":[[\"${id[Dan Diaz]}\",\"Dan Diaz\"]]}" \
    "the one-record update to $who"
done

# ---- A deleted contact: its CorrID, the one its records carried ----
messages bob@example.org >"$work/bob-before.txt"
px -p alice contact delete Contacts/Team "Eve Evans" >/dev/null
px -p alice update Contacts/Team | grep -q "^Sent 1 update mail$" || fail "the deletion was not sent"
check_mail "$(arrived bob@example.org "$work/bob-before.txt")" \
  "{\"path\":\"$path\",\"recipients\":$recipients,\"hidden\":$hidden,\"deleted\":[\"${id[Eve Evans]}\"]}" \
  "the deletion"
messages bob@example.org >"$work/bob-before.txt"
px -p alice update Contacts/Team | grep -q "^No update mail was sent$" || fail "the deletion was sent twice"
[ "$(messages bob@example.org | wc -l)" = "$(wc -l <"$work/bob-before.txt")" ] || fail "a second deletion mail"

# ---- A member far behind a big folder: the file and the import mail ----
px -p alice options --set Kiek=200 >/dev/null
px -p alice folder add Contacts/Big >/dev/null
for i in $(seq 1 205); do
  px -p alice contact add Contacts/Big --set FullName="Member $i" --set Email1Address="member$i@example.net" >/dev/null
done
px -p alice share Contacts/Big --add "Bob Brown" --save >/dev/null
messages bob@example.org >"$work/bob-before.txt"
px -p alice update Contacts/Big --answer "$work/big.pst" >"$work/export.txt"
grep -q "Contacts were successfully exported to a file" "$work/export.txt" || fail "no export"
grep -q "^Sent 1 update mail$" "$work/export.txt" || fail "the import mail was not sent"
check_mail "$(arrived bob@example.org "$work/bob-before.txt")" \
  "{\"path\":\"Personal Folders\$/\$Contacts\$/\$Big\$/\$\",\"recipients\":[[\"bob@example.org\",\"Bob Brown\"]],
    \"hidden\":[\"bob@example.org\"],\"import\":true}" \
  "the import mail"
[ -s "$work/big.pst" ] || fail "no file"
px -p alice contact list --store "$work/big.pst" Temp --json --show User3 --show User4 >"$work/temp.json"
px -p alice contact list Contacts/Big --json >"$work/big.json"
python3 - "$work/temp.json" "$work/big.json" <<'PY' || fail "the exported copies"
import json, sys
copies, originals = (json.load(open(p)) for p in sys.argv[1:3])
assert len(copies) == 205, len(copies)
assert all(c["User4"] == "Plexisync" for c in copies), "User4"
assert all(len(c["User3"]) == 48 for c in copies), "User3 length"
# Made here: a contact's CorrID is its own entry id, as its records carry it.
assert sorted(c["User3"] for c in copies) == sorted(o["entryId"] for o in originals), "User3 is not the CorrID"
assert {c["fullName"]: c["User3"] for c in copies} == {o["fullName"]: o["entryId"] for o in originals}
PY
# The recipient was told of the file: stamped now.
[ "$(px -p alice members Contacts/Big --json | field 'd["recipients"][0]["lastUpdate"] is not None')" = True ] \
  || fail "the member behind was not stamped"

echo "alice shared a folder with bob and carol: update mails, a deletion and an export checked"
