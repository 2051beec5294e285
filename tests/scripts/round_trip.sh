#!/usr/bin/env bash
# The whole round trip through the real program, three profiles: alice
# shares Contacts/Team with bob and carol; their send-receive applies the
# update mail (each copy equals alice's, every contact unread; alice becomes
# a member of each copy, nobody a member of their own copy); bob changes a
# contact and sends it back: alice answers "Yes" and gets it (a new, unread
# contact), carol answers "No" and keeps hers; alice deletes two contacts:
# "Yes to All" deletes both at bob's without a second question, carol
# decides per contact, and the next mail asks again. Finally carol, far
# behind a folder of 205 contacts, imports the exported file and has every
# contact exactly once. The copies are checked with `contact list --json`.
set -euo pipefail
bin="$1"
work="$(mktemp -d /tmp/plexisync-round.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export PLEXISYNC_HOME="$work/home"
unset PLEXISYNC_PROFILE

fail() { echo "FAIL: $*" >&2; exit 1; }
px() { "$bin" --batch "$@"; }
# Runs a command that must succeed, its output kept in $work/out.txt.
run() { "$bin" "$@" >"$work/out.txt" 2>&1 || { cat "$work/out.txt" >&2; fail "plexisync $*"; }; }
has() { grep -qF -- "$1" "$work/out.txt" || { cat "$work/out.txt" >&2; fail "${2:-no \"$1\"}"; }; }
hasnt() { ! grep -qF -- "$1" "$work/out.txt" || { cat "$work/out.txt" >&2; fail "${2:-unexpected \"$1\"}"; }; }
# A contacts folder as JSON: plexisync -p WHO contact list FOLDER --json --show JobTitle
list() { px -p "$1" contact list "$2" --json --show JobTitle >"$work/$1.json"; }
# A Python check on the JSON documents given as files; `d` is the first, `e` the second.
check() {
  local expr="$1" msg="$2"; shift 2
  python3 -c '
import json, sys
docs = [json.load(open(p)) for p in sys.argv[2:]]
d = docs[0]; e = docs[1] if len(docs) > 1 else None
by = lambda doc: {c["fullName"]: c for c in doc}
sys.exit(0 if eval(sys.argv[1]) else 1)' "$expr" "$@" || { cat "$@" >&2; fail "$msg"; }
}

for who in "alice|Alice Adams" "bob|Bob Brown" "carol|Carol Cole"; do
  IFS='|' read -r name display <<<"$who"
  px profile create "$name" --name "$display" --address "$name@example.org" \
    --answer OK --answer Yes --answer OK >/dev/null
  # Updates go out by the update command only: a send-receive that ran
  # Update All first would stamp the members after the changes it then
  # fetches, and those would arrive as apparently obsolete.
  px -p "$name" options --set AutoUpdate=0 >/dev/null
done
px -p alice contact add Contacts --set FullName="Bob Brown" --set Email1Address=bob@example.org >/dev/null
px -p alice contact add Contacts --set FullName="Carol Cole" --set Email1Address=carol@example.org >/dev/null
px -p alice folder add Contacts/Team >/dev/null
for n in "Dan Diaz" "Eve Evans" "Finn Ford"; do
  px -p alice contact add Contacts/Team --set FullName="$n" --set JobTitle="Team member" \
    --set Body="Notes on $n" >/dev/null
done

# ---- The first send: each member's copy equals alice's, all unread ----
run -p alice --batch share Contacts/Team --add "Bob Brown" --add "Carol Cole" --send
run -p alice --batch send-receive
list alice Contacts/Team
for who in bob carol; do
  run -p "$who" --batch send-receive
  has "Update mails: 1 arrived, 1 applied"
  has "Personal Folders/Contacts/Team: new folder, 3 contacts arrived"
  list "$who" Contacts/Team
  check 'sorted((c["fullName"], c["JobTitle"]) for c in d) == sorted((c["fullName"], c["JobTitle"]) for c in e)' \
    "$who's copy differs from alice's" "$work/$who.json" "$work/alice.json"
  check 'all(c["unread"] for c in d)' "$who's contacts are not unread" "$work/$who.json"
  px -p "$who" contact show Contacts/Team "Dan Diaz" | grep -q "Notes on Dan Diaz" || fail "$who: the body did not arrive"
  # The owner is a member of the copy and a contact of the member's; the
  # member is never a member of its own copy.
  px -p "$who" members Contacts/Team --json >"$work/members.json"
  check '"alice@example.org" in [m["address"] for m in d["recipients"] if m["selected"]]' \
    "alice is not a member of $who's copy" "$work/members.json"
  check '"'"$who"'@example.org" not in [m["address"] for m in d["recipients"]]' \
    "$who is a member of its own copy" "$work/members.json"
  list "$who" Contacts
  check '"Alice Adams" in by(d)' "alice is not a contact of $who's" "$work/$who.json"
done
px -p bob members Contacts/Team --json >"$work/members.json"
check '"carol@example.org" in [m["address"] for m in d["recipients"] if m["selected"]]' \
  "carol is not a member of bob's copy" "$work/members.json"
list carol Contacts/Team
cp "$work/carol.json" "$work/carol-before.json"

# ---- Bob changes a contact and sends it back ----
# A receive stamps the members with its time plus 5 seconds; a change counts
# from then on.
sleep 6
# Bob sends no comments: the records carry no body, and each receiver keeps
# its own.
px -p bob options --set Dont_Send_Comments=1 >/dev/null
px -p bob contact set Contacts/Team "Dan Diaz" --set JobTitle="Team lead" --set Body="Bob's notes" >/dev/null
run -p bob --batch update Contacts/Team
has "Sent 1 update mail"
run -p bob --batch send-receive
list alice Contacts/Team
cp "$work/alice.json" "$work/alice-before.json"
run -p alice send-receive --answer Yes
has "Arrived changes for the Dan Diaz contact"
has "Personal Folders/Contacts/Team: 1 replaced"
hasnt "not used"
list alice Contacts/Team
check 'by(d)["Dan Diaz"]["JobTitle"] == "Team lead" and by(d)["Dan Diaz"]["unread"]' \
  "alice did not take bob's change" "$work/alice.json"
check 'by(d)["Dan Diaz"]["entryId"] != by(e)["Dan Diaz"]["entryId"] and len(d) == 3' \
  "the change did not make a new contact" "$work/alice.json" "$work/alice-before.json"
# The record carried no body: the local one is kept.
px -p alice contact show Contacts/Team "Dan Diaz" | grep -q "Notes on Dan Diaz" || fail "alice lost Dan's body"

run -p carol send-receive --answer No
has "changes for the Dan Diaz contact"
has "No contacts changed"
list carol Contacts/Team
check 'd == e' "carol's copy changed after No" "$work/carol.json" "$work/carol-before.json"

# ---- Deletions: asked per contact; "Yes to All" holds for one mail ----
sleep 6
px -p alice contact delete Contacts/Team "Eve Evans" >/dev/null
px -p alice contact delete Contacts/Team "Finn Ford" >/dev/null
run -p alice --batch update Contacts/Team
has "Sent 1 update mail"
run -p alice --batch send-receive
run -p bob send-receive --answer "Yes to All"
has "was removed from shared 'Team' folder"
has "Personal Folders/Contacts/Team: 2 removed"
hasnt "not used"
[ "$(grep -c "was removed from shared" "$work/out.txt")" = 1 ] || fail "bob was asked twice after Yes to All"
list bob Contacts/Team
check '[c["fullName"] for c in d] == ["Dan Diaz"]' "bob's deletions" "$work/bob.json"
run -p carol send-receive --answer No --answer Yes
[ "$(grep -c "was removed from shared" "$work/out.txt")" = 2 ] || fail "carol was not asked per contact"
has "Personal Folders/Contacts/Team: 1 removed"
list carol Contacts/Team
check 'len(d) == 2 and "Dan Diaz" in by(d)' "carol's deletions" "$work/carol.json"
# A new mail asks again.
sleep 6
px -p alice contact delete Contacts/Team "Dan Diaz" >/dev/null
run -p alice --batch update Contacts/Team
run -p alice --batch send-receive
run -p bob send-receive --answer No
has "Contact 'Dan Diaz' was removed from shared 'Team' folder"
list bob Contacts/Team
check '[c["fullName"] for c in d] == ["Dan Diaz"]' "bob's No to a new mail's deletion" "$work/bob.json"

# ---- A member far behind imports the exported file ----
px -p alice options --set Kiek=200 >/dev/null
px -p alice folder add Contacts/Big >/dev/null
for i in $(seq 1 205); do
  px -p alice contact add Contacts/Big --set FullName="Member $i" --set Email1Address="member$i@example.net" >/dev/null
done
px -p alice share Contacts/Big --add "Carol Cole" --save >/dev/null
run -p alice update Contacts/Big --answer "$work/big.pst"
has "Sent 1 update mail"
[ -s "$work/big.pst" ] || fail "no file"
run -p alice --batch send-receive
run -p carol --batch send-receive
has "Personal Folders/Contacts/Big: new folder, 0 contacts arrived"
run -p carol import Contacts/Big --answer "$work/big.pst" --answer OK
has "Import successful!"
has "Personal Folders/Contacts/Big: 205 contacts arrived"
list carol Contacts/Big
list alice Contacts/Big
check 'sorted(c["fullName"] for c in d) == sorted(c["fullName"] for c in e) and len(d) == 205' \
  "carol's imported copy" "$work/carol.json" "$work/alice.json"
check 'all(c["unread"] for c in d)' "imported contacts are not unread" "$work/carol.json"
# The same file again replaces each contact: still one of each.
run -p carol import Contacts/Big --answer "$work/big.pst" --answer OK
has "Personal Folders/Contacts/Big: 205 replaced"
list carol Contacts/Big
check 'len(d) == 205 and len({c["fullName"] for c in d}) == 205' "a second import doubled contacts" "$work/carol.json"

echo "round trip between alice, bob and carol: copies, a change sent back, deletions and an import checked"
