#!/usr/bin/env bash
# The demonstration itself: two profiles on one machine, run without
# questions to the terminal (every question is answered by --answer or takes
# the answer that changes nothing), printing what happens step by step.
#   PLEXISYNC_HOME=/tmp/somewhere bash scripts/demo-run.sh path/to/plexisync
set -euo pipefail
bin="$1"
: "${PLEXISYNC_HOME:?set PLEXISYNC_HOME to the folder the demo profiles go into}"
export PLEXISYNC_HOME
unset PLEXISYNC_PROFILE

px() { "$bin" --batch "$@"; }
step() { printf '\n==== %s\n' "$*"; }
# The entry id of the first mail in a JSON mail list on stdin.
first_id() { python3 -c 'import json,sys; d=json.load(sys.stdin); print(d[0]["entryId"] if d else "")'; }

echo "Profiles live in $PLEXISYNC_HOME"
scratch="$(mktemp -d /tmp/plexisync-demo-files.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

step "Create two profiles; the first start greets, asks for access and shows the own-address window"
for who in "alice|Alice Adams|alice@example.org" "bob|Bob Brown|bob@example.org"; do
  IFS='|' read -r name display address <<<"$who"
  if px profile show "$name" >/dev/null 2>&1; then
    echo "Profile $name exists already; using it"
  else
    px profile create "$name" --name "$display" --address "$address" \
      --answer OK --answer Yes --answer OK
  fi
done
px profile list

step "Alice makes a team contacts folder and adds contacts"
dan=""
if px -p alice contact list "Contacts/Sales Team" >/dev/null 2>&1; then
  echo "Alice's folder Contacts/Sales Team exists already; its contacts stay as they are"
else
  px -p alice folder add "Contacts/Sales Team"
  px -p alice contact add "Contacts/Sales Team" --set FullName="Carol Cole" --set FirstName=Carol \
    --set LastName=Cole --set Email1Address=carol@example.org --set CompanyName="Cole & Co" \
    --set BusinessTelephoneNumber="+1 555 0100"
  dan="$(px -p alice contact add "Contacts/Sales Team" --set FullName="Dan Diaz" \
    --set Email1Address=dan@example.org --set JobTitle="Account Manager" --set Birthday=6/15/1990 | tail -n 1)"
  echo "Dan Diaz has the entry id $dan"
fi
px -p alice contact list "Contacts/Sales Team"
if [ -n "$dan" ]; then px -p alice contact show "Contacts/Sales Team" "$dan"; fi
px -p alice folder list

step "Alice sends Bob a mail with an attachment"
cat >"$scratch/sales-team.txt" <<'TXT'
Carol Cole, Cole & Co, carol@example.org, +1 555 0100
Dan Diaz, Account Manager, dan@example.org
TXT
px -p alice mail send --to "Bob Brown <bob@example.org>" --subject "The sales team" \
  --body "Hi Bob, the team's contacts are attached. Alice" --attach "$scratch/sales-team.txt"

step "Send/receive on both machines"
px -p alice send-receive
px -p bob send-receive

step "Bob's Inbox"
px -p bob mail list
id="$(px -p bob mail list --json | first_id)"
if [ -n "$id" ]; then
  px -p bob mail show Inbox "$id" --save-attachments "$scratch/received"
  echo "--- the saved attachment:"
  cat "$scratch/received/sales-team.txt"
fi

step "Alice shares the sales team folder with Bob: the share wizard, then Save & Send"
if ! px -p alice contact show Contacts "Bob Brown" >/dev/null 2>&1; then
  px -p alice contact add Contacts --set FullName="Bob Brown" --set Email1Address=bob@example.org
fi
px -p alice share "Contacts/Sales Team"
px -p alice share "Contacts/Sales Team" --add "Bob Brown" --send
px -p alice members "Contacts/Sales Team"

step "Bob's send-receive fetches the update mail and his add-in applies it: his copy of the folder"
px -p bob send-receive
px -p bob contact list "Contacts/Sales Team" --unread
px -p bob members "Contacts/Sales Team"

step "Bob changes a contact of his copy and sends it back; Alice is asked and answers Yes"
# A receive stamps the members with its time plus 5 seconds; a change counts from then on.
sleep 6
if px -p bob contact show "Contacts/Sales Team" "Dan Diaz" >/dev/null 2>&1; then
  px -p bob contact set "Contacts/Sales Team" "Dan Diaz" --set JobTitle="Sales Lead"
  px -p bob update "Contacts/Sales Team"
  px -p bob send-receive
  px -p alice send-receive --answer Yes
  px -p alice contact list "Contacts/Sales Team" --show JobTitle
fi

step "Alice's options window and own addresses"
px -p alice options
px -p alice my-addresses
px -p alice my-addresses --add alice.adams@work.example
px -p alice my-addresses

step "Alice changes two options (OK pressed)"
px -p alice options --set AutoUpdate=off --set Kiek=1000
px -p alice options --json

step "Alice repairs the sharing database and reads the error log"
px -p alice repair
px -p alice log

echo
echo "Demo finished."
