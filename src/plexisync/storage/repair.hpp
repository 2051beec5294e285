#pragma once
// The repair of the sharing database: removes every entry whose folder or
// item no longer exists in the client, showing its progress in the shared
// Progress window.
#include <cstddef>
#include <string>

namespace plexisync {

class Context;

// Hides the options window, then walks the database: "Updateable" loses
// folders that are gone or no longer hold contacts; the key of a vanished
// folder goes whole; of an existing folder, the recipients and the mapping
// entries whose items are gone go. Only what the client answers as not found
// (host::NotFoundError) counts as gone: an entry whose look-up fails
// otherwise (a personal folders file that is not open, ...) is kept, written
// to the error log (without the report question) and counted in
// `keptOutOfReach` (distinct entry ids; a folder kept this way is kept whole,
// its recipients and contacts unchecked). Yields to the message loop after
// each entry and shows the options window again at the end. True when it
// ran to its end; a failure is logged under "AdvSet_RepairClick" with the
// context "Step <n>" and gives false (what was removed before stays removed).
bool Repair_Database(Context& ctx, std::size_t* keptOutOfReach = nullptr);

// Deletes every direct subkey of the key (a path ending in "\"). Failures
// reach the caller.
void Delete_SubKeys(Context& ctx, const std::string& keyPath);

}  // namespace plexisync
