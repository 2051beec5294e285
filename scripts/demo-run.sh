#!/usr/bin/env bash
# The main job, shown step by step: three people on one machine share a
# contacts folder by e-mail and keep their copies up to date. Alice owns
# "Contacts/Team" and shares it with Bob and Carol; the update mails travel
# through the post office; the members' copies appear with every contact
# unread; Bob sends a change back and Alice is asked about it; Alice deletes a
# contact and Bob is asked; Carol, far behind a large folder, gets it as a
# file and imports it; Bob uses the unread view. Every question is answered
# by --answer (or takes the answer that changes nothing), so the run needs
# nobody at the terminal.
#   PLEXISYNC_HOME=/tmp/somewhere bash scripts/demo-run.sh path/to/plexisync
set -euo pipefail
bin="$1"
: "${PLEXISYNC_HOME:?set PLEXISYNC_HOME to the folder the demo profiles go into}"
export PLEXISYNC_HOME
unset PLEXISYNC_PROFILE

px() { "$bin" --batch "$@"; }
step() { printf '\n==== %s\n' "$*"; }
say() { printf -- '-- %s\n' "$*"; }

if [ -e "$PLEXISYNC_HOME/profiles" ] || [ -n "$(ls -A "$PLEXISYNC_HOME" 2>/dev/null)" ]; then
  echo "The demonstration starts from nothing: $PLEXISYNC_HOME must be empty." >&2
  exit 2
fi
echo "Profiles live in $PLEXISYNC_HOME"
scratch="$(mktemp -d /tmp/plexisync-demo-files.XXXXXX)"
server=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

step "Three people start the mail client with Plexisync for the first time"
for who in "alice|Alice Adams" "bob|Bob Brown" "carol|Carol Cole"; do
  IFS='|' read -r name display <<<"$who"
  px profile create "$name" --name "$display" --address "$name@example.org" \
    --answer OK --answer Yes --answer OK
  # Updates go out when the person presses Update or Update All, not with
  # every send/receive.
  px -p "$name" options --set AutoUpdate=0 >/dev/null
done
px profile list

step "Alice keeps her team's contacts in Contacts/Team; Bob and Carol are in her address book"
px -p alice contact add Contacts --set FullName="Bob Brown" --set Email1Address=bob@example.org >/dev/null
px -p alice contact add Contacts --set FullName="Carol Cole" --set Email1Address=carol@example.org >/dev/null
px -p alice folder add Contacts/Team
px -p alice contact add Contacts/Team --set FullName="Dan Diaz" --set JobTitle="Account Manager" \
  --set Email1Address=dan@example.net --set Body="Met at the spring fair" >/dev/null
px -p alice contact add Contacts/Team --set FullName="Eve Evans" --set JobTitle="Engineer" \
  --set Email1Address=eve@example.net >/dev/null
px -p alice contact add Contacts/Team --set FullName="Finn Ford" --set JobTitle="Designer" \
  --set Email1Address=finn@example.net >/dev/null
px -p alice contact list Contacts/Team --show JobTitle

step "Alice's window on Contacts/Team: the Plexisync buttons and menu"
px -p alice buttons Contacts/Team

step "Alice opens Share..., adds Bob and Carol and presses Save & Send"
px -p alice share Contacts/Team
px -p alice share Contacts/Team --add "Bob Brown" --add "Carol Cole" --send
px -p alice members Contacts/Team

step "Send/receive: the update mail goes out; Bob's and Carol's add-ins make their copies"
px -p alice send-receive
px -p bob send-receive
px -p carol send-receive
say "Bob's copy, every contact unread:"
px -p bob contact list Contacts/Team --show JobTitle
say "Carol's copy:"
px -p carol contact list Contacts/Team --show JobTitle
say "Alice is now a member of Bob's copy, as is Carol:"
px -p bob members Contacts/Team

step "Bob looks at the unread contacts only, marks them read, and sees the full view again"
px -p bob unread Contacts/Team
px -p bob contact list Contacts/Team --view
px -p bob mark-read Contacts/Team
say "Unread only again: every contact has been read, so the view is empty"
px -p bob unread Contacts/Team
px -p bob contact list Contacts/Team --view
say "Switching to the folder brings back the full view"
px -p bob buttons Contacts/Team >/dev/null
px -p bob contact list Contacts/Team --view

step "Bob promotes Dan and presses Update; Alice is asked and takes the change, Carol keeps hers"
# A receive stamps the members with its time plus 5 seconds; a change counts
# from then on.
sleep 6
px -p bob contact set Contacts/Team "Dan Diaz" --set JobTitle="Sales Lead"
px -p bob click Update --folder Contacts/Team
px -p bob send-receive
px -p alice send-receive --answer Yes
px -p alice contact list Contacts/Team --show JobTitle
px -p carol send-receive --answer No
px -p carol contact list Contacts/Team --show JobTitle

step "Alice deletes Finn and presses Update; Bob is asked and agrees, Carol keeps him"
sleep 6
px -p alice contact delete Contacts/Team "Finn Ford"
px -p alice click Update --folder Contacts/Team
px -p alice send-receive
px -p bob send-receive --answer Yes
px -p bob contact list Contacts/Team --show JobTitle
px -p carol send-receive --answer No
px -p carol contact list Contacts/Team --show JobTitle

step "A large folder: Carol is far behind, so she gets it as a file and imports it"
px -p alice options --set Kiek=200 >/dev/null
px -p alice folder add Contacts/Customers
for i in $(seq 1 205); do
  px -p alice contact add Contacts/Customers --set FullName="Customer $i" \
    --set Email1Address="customer$i@example.net" >/dev/null
done
say "Alice has 205 customers; she shares them with Carol and presses Update"
px -p alice share Contacts/Customers --add "Carol Cole" --save
px -p alice update Contacts/Customers --answer "$scratch/customers.pst"
px -p alice send-receive
px -p carol send-receive
say "Carol's folder waits for the file: her Import... button is shown"
px -p carol buttons Contacts/Customers
px -p carol import Contacts/Customers --answer "$scratch/customers.pst" --answer OK
printf 'Carol now has %s customers\n' \
  "$(px -p carol contact list Contacts/Customers --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))')"

step "About Plexisync and Check for Update (against a small local stand-in for the vendor's server)"
px -p alice about
mkdir -p "$scratch/www"
printf '0' >"$scratch/www/_check_update.asp"
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$scratch/www" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
PLEXISYNC_VENDOR_URL="http://127.0.0.1:$port" px -p alice check-update --answer OK

echo
echo "Demo finished: Contacts/Team is shared by alice, bob and carol; the profiles stay in $PLEXISYNC_HOME."
