#pragma once
// A chain of folders, each the only subfolder of the one before, written
// straight into a message store file in one transaction: a tree thousands of
// folders deep, as arriving mail could once make one, in a fraction of the
// time the client takes for a transaction per folder. The store must be
// opened (again) afterwards for the client to see the folders.
#include <cstdint>
#include <filesystem>
#include <string>

namespace host {

// Adds `depth` folders named `name` below the folder numbered `parent`,
// contacts folders when `contacts` is set, else mail folders. Returns the
// number of the deepest.
std::uint32_t WriteFolderChain(const std::filesystem::path& storeFile, std::uint32_t parent, int depth,
                               const std::string& name, bool contacts);

}  // namespace host
