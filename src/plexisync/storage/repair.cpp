#include "plexisync/storage/repair.hpp"

#include <cstdint>
#include <set>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {
namespace {

// The options window, whose Repair button starts the repair, steps aside
// while it runs and comes back (modeless) when it ends, however it ends.
void HideOptions(Context& ctx) { ctx.Form<AdvSettings>().Hide(); }
void ShowOptions(Context& ctx) { ctx.Form<AdvSettings>().Show(false); }

// What a look-up by entry id tells about an entry of the database.
enum class Lookup {
  kFound,
  // The client answers that no such folder or item exists: the entry goes.
  kGone,
  // The look-up failed otherwise (its store is not open, the client
  // refused, ...): nothing is known, so the entry stays.
  kOutOfReach,
};

// The entries whose look-up failed: each is kept and written to the error
// log (without offering the report: the person is told at the end).
class OutOfReach {
 public:
  explicit OutOfReach(Context& ctx) : ctx_(ctx) {}

  Lookup Folder(host::NameSpace& session, const std::string& entryId, std::int16_t step,
                std::int32_t* itemType = nullptr) {
    return Look("folder", entryId, step, [&] {
      auto folder = session.GetFolderFromID(entryId);
      if (itemType) *itemType = folder->DefaultItemType();
    });
  }
  Lookup Item(host::NameSpace& session, const std::string& entryId, std::int16_t step) {
    return Look("item", entryId, step, [&] { session.GetItemFromID(entryId); });
  }
  std::size_t Count() const { return ids_.size(); }

 private:
  template <class F>
  Lookup Look(const char* what, const std::string& entryId, std::int16_t step, F&& lookUp) {
    try {
      lookUp();
      return Lookup::kFound;
    } catch (const host::NotFoundError&) {
      return Lookup::kGone;
    } catch (...) {
      const std::string failure = DescribeException(std::current_exception());
      ids_.insert(entryId);
      Append_error_record(ctx_, failure + " (" + what + " " + entryId + " kept)", "AdvSet_RepairClick",
                          "Step " + std::to_string(step));
      return Lookup::kOutOfReach;
    }
  }

  Context& ctx_;
  std::set<std::string> ids_;
};

// One entry done: the bar moves on and the client handles its messages.
void Advance(Context& ctx, platform::ProgressBar& bar) {
  bar.SetValue(bar.Value() + 1);
  ctx.DoEvents();
}

}  // namespace

void Delete_SubKeys(Context& ctx, const std::string& keyPath) {
  CRegistry& reg = ctx.reg();
  std::vector<std::string> names;
  reg.GetAllSubKeys(keyPath, names);
  for (const auto& name : names) reg.DeleteKey(keyPath + name);
}

bool Repair_Database(Context& ctx, std::size_t* keptOutOfReach) {
  if (keptOutOfReach) *keptOutOfReach = 0;
  std::int16_t step = 0;
  OutOfReach outOfReach(ctx);
  try {
    CRegistry& reg = ctx.reg();
    // Without the client nothing can be looked up: that fails the repair
    // rather than making every entry look vanished.
    const auto session = ctx.app().Session();
    HideOptions(ctx);

    // Folders that may send: each must still exist and hold contacts.
    const std::string updateable = ctx.RegKey + kUpdateableKey;
    std::vector<std::string> folderIds;
    reg.GetAllValueNames(updateable, folderIds);

    auto& progress = ctx.Progress();
    auto& bar = progress.TheBar();
    bar.SetValue(0);
    bar.SetMax(static_cast<int>(folderIds.size()));
    bar.SetVisible(true);
    progress.Message().SetCaption("Updating database...");
    progress.Show(false);

    for (const auto& folderId : folderIds) {
      std::int32_t itemType = host::kContactItem;
      const Lookup found = outOfReach.Folder(*session, folderId, step, &itemType);
      if (found == Lookup::kGone || (found == Lookup::kFound && itemType != host::kContactItem)) {
        reg.DeleteValue(updateable, folderId);
      }
      Advance(ctx, bar);
    }

    // Folder keys: vanished folders go whole; of the others, recipients and
    // mapping entries whose items vanished go.
    std::vector<std::string> subkeys;
    reg.GetAllSubKeys(ctx.RegKey, subkeys);
    step = 8;
    bar.SetMax(static_cast<int>(subkeys.size()));
    bar.SetValue(0);
    step = 9;
    for (const auto& folderId : subkeys) {
      // A "mapping" key here belongs to an older layout.
      if (folderId != kMappingKey && folderId != kUpdateableKey) {
        step = 10;
        const std::string folderKey = ctx.RegKey + folderId;
        const Lookup found = outOfReach.Folder(*session, folderId, step);
        if (found == Lookup::kGone) {
          Delete_SubKeys(ctx, folderKey + "\\");
          step = 11;
          reg.DeleteKey(folderKey);
        } else if (found == Lookup::kOutOfReach) {
          // Kept whole: its recipients and contacts are checked by a repair
          // that can reach the folder.
        } else {
          std::vector<std::string> recipients;
          reg.GetAllSubKeys(folderKey, recipients);
          for (const auto& recipientId : recipients) {
            if (!IsFolderDataKey(recipientId)) {
              step = 12;
              if (outOfReach.Item(*session, recipientId, step) == Lookup::kGone) {
                reg.DeleteKey(folderKey + "\\" + recipientId);
              }
            }
            step = 13;
          }
          step = 14;
          const std::string mapping = folderKey + "\\" + kMappingKey;
          std::vector<std::string> localIds;
          reg.GetAllValueNames(mapping, localIds);
          for (const auto& localId : localIds) {
            if (outOfReach.Item(*session, localId, step) == Lookup::kGone) reg.DeleteValue(mapping, localId);
            step = 15;
          }
          step = 16;
          step = 17;
        }
      }
      Advance(ctx, bar);
    }

    step = 18;
    progress.Hide();
    ShowOptions(ctx);
    if (keptOutOfReach) *keptOutOfReach = outOfReach.Count();
    return true;
  } catch (...) {
    const std::string description = DescribeException(std::current_exception());
    PassOver([&] { ctx.Progress().Hide(); });
    PassOver([&] { ShowOptions(ctx); });
    Error_logger(ctx, description, "AdvSet_RepairClick", "Step " + std::to_string(step));
    return false;
  }
}

}  // namespace plexisync
