#!/usr/bin/env bash
# Rewrites the store_open seeds from a fuzz build folder:
#   bash fuzz/tools/make_store_seed.sh build-fuzz
# store_items.db: what tools/store_seed.cpp writes, in rollback-journal form
# with 512-byte pages, vacuumed. store_items_wal.db: the same bytes marked as
# a write-ahead-log database (header bytes 18 and 19 set to 2), as the store
# leaves its files.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:?usage: make_store_seed.sh BUILD_DIR}"
cmake --build "$build" --target store_seed
corpus=fuzz/corpus/store_open
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$build/fuzz/store_seed" "$tmp/store.db"
sqlite3 "$tmp/store.db" "PRAGMA journal_mode=DELETE; PRAGMA page_size=512; VACUUM;" >/dev/null
mkdir -p "$corpus"
cp "$tmp/store.db" "$corpus/store_items.db"
cp "$tmp/store.db" "$corpus/store_items_wal.db"
printf '\002\002' | dd of="$corpus/store_items_wal.db" bs=1 seek=18 conv=notrunc status=none
ls -l "$corpus"
