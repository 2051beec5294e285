#!/usr/bin/env bash
# Rewrites the receive_mail seeds from a fuzz build folder:
#   bash fuzz/tools/make_receive_seeds.sh build-fuzz
# The real seeds are the update mails tools/receive_seed.cpp has the owner's
# add-in send (their names say which round); share_first.pxs, the first share
# of "Team", also becomes tools/receive_base.pxs, which the target applies
# before the first input. The hostile seeds are made from share_first.pxs:
#   hostile_deep_path         a path of 2,000 levels below Team
#   hostile_long_folder_name  a folder name of 100,000 characters
#   hostile_recipients_no_mid 8,000 ":StartOfRec:" entries without ":MidOfRec:"
#   hostile_nul_fullname      a NUL byte in a recipient's name and in the
#                             FullName of a contact new to the folder
#   hostile_path_inbox        the records sent to the Inbox
# Those named in $held go to findings/receive_mail/ instead of the corpus:
# today's receiving code crashes on them or takes longer than 10 s.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:?usage: make_receive_seeds.sh BUILD_DIR}"
held=""
cmake --build "$build" --target receive_seed
corpus=fuzz/corpus/receive_mail
findings=fuzz/findings/receive_mail
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$build/fuzz/receive_seed" "$tmp"
python3 - "$tmp" <<'EOF'
import pathlib, sys
out = pathlib.Path(sys.argv[1])
first = (out / "share_first.pxs").read_bytes()
path_line, rest = first.split(b"\r\n", 1)
assert path_line.endswith(b"$/$:EndOfPath:")
team = path_line[: -len(b":EndOfPath:")]
head, records = rest.split(b":StartOfContact:", 1)
records = b":StartOfContact:" + records

def write(name, data):
    assert len(data) < 300_000, name
    (out / (name + ".pxs")).write_bytes(data)

write("hostile_deep_path", team + b"d$/$" * 2000 + b":EndOfPath:\r\n" + rest)
write("hostile_long_folder_name", team + b"n" * 100_000 + b"$/$:EndOfPath:\r\n" + rest)
entries = b"".join(b":StartOfRec:guest%d@example.org\r\n" % i for i in range(8000))
write("hostile_recipients_no_mid",
      path_line + b"\r\n:StartOfRecipients:\r\n" + entries + b":EndOfRecipients:\r\n" + records)
# The first record gets a CorrID the reader has not seen, so that it is saved
# as a new contact.
corr = records[len(b":StartOfContact:"):][:48]
fresh = records.replace(corr, corr[:40] + b"7FFFFFFE", 1)
nul_head = head.replace(b":EndOfRecipients:", b":StartOfRec:nul@example.org:MidOfRec:Nul\x00Name:EndOfRec:\r\n"
                        b":EndOfRecipients:", 1)
nul_records = fresh.replace(b"ContactFullName:Dan Diaz", b"ContactFullName:Dan\x00Diaz", 1)
assert nul_records != fresh
write("hostile_nul_fullname", path_line + b"\r\n" + nul_head + nul_records)
write("hostile_path_inbox", b"Personal Folders$/$Inbox$/$:EndOfPath:\r\n" + rest)
EOF
mkdir -p "$corpus" "$findings"
cp "$tmp/share_first.pxs" fuzz/tools/receive_base.pxs
for f in "$tmp"/*.pxs; do
  name="$(basename "$f" .pxs)"
  if [[ " $held " == *" $name "* ]]; then
    cp "$f" "$findings/"
  else
    cp "$f" "$corpus/"
  fi
done
ls -l "$corpus" "$findings"
