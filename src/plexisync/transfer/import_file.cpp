// Import_file: the contacts of an exported personal-folders file brought
// into a contacts folder. The file is attached to the client as a store only
// while it is read; each contact of its "Temp" folder that carries the mark
// "Plexisync" in User4 comes in as a new, unread contact mapped to the CorrID
// in its User3, in place of the local contact that already stands for that
// CorrID.
#include "plexisync/transfer/import_file.hpp"

#include <exception>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "platform/textfile.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/dialogs/pictures.hpp"
#include "plexisync/receive/contact_replace.hpp"
#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

const char* const kExportFolder = "Temp";
const char* const kExportMark = "Plexisync";

// The file attached as a store and the contacts of its "Temp" folder.
struct OpenedFile {
  std::shared_ptr<host::Folder> root;
  std::vector<std::shared_ptr<host::Item>> contacts;
};

// Attaches the file and lists its contacts; false (with nothing left
// attached) when it is no export file. A file that does not exist is not
// attached at all: the client would create an empty one.
bool OpenExportFile(Context& ctx, const std::string& fileName, OpenedFile& out) {
  if (!platform::FileExists(fileName)) return false;
  const auto session = ctx.app().Session();
  std::shared_ptr<host::Folder> root;
  try {
    const int storesBefore = session->Folders()->Count();
    session->AddStore(fileName);
    auto tops = session->Folders();
    if (tops->Count() != storesBefore + 1) {
      // Open in the client already (the person's own store, say): its last
      // top folder is some other store, and closing it is not ours to do.
      Append_error_record(ctx, "The file " + fileName + " is open in the client already", "Import_file", "");
      return false;
    }
    root = tops->Item(tops->Count());
    auto items = ContactItems(root->Folders()->Item(kExportFolder));
    for (auto item = items->GetFirst(); item; item = items->GetNext()) out.contacts.push_back(std::move(item));
    out.root = root;
    return true;
  } catch (...) {
    if (root) PassOver([&] { session->RemoveStore(root); });
    out.contacts.clear();
    return false;
  }
}

}  // namespace

bool Import_file(Context& ctx, const std::shared_ptr<host::Folder>& target) {
  OpenedFile file;
  try {
    auto& dialog = ctx.Form<Pictures>().DialogOpen;
    dialog.SetInitDir(ctx.InstDir);
    dialog.SetFlags(4);
    dialog.SetDialogTitle(kImportDialogTitle);
    dialog.SetFilter(kPstFilter);
    dialog.SetFileName("");
    dialog.ShowOpen();
    const std::string fileName = dialog.FileName();
    if (fileName.empty() || platform::Right(fileName, 4) != ".pst") return false;

    if (!target) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    const std::string targetId = target->EntryID();
    if (!OpenExportFile(ctx, fileName, file)) {
      ctx.svc.user.MessageBox(kImportUnknownFormat, "", platform::MsgBoxButtons::Ok);
      return false;
    }

    auto& progress = ctx.Progress();
    progress.Message().SetCaption("Importing contacts");
    progress.TheBar().SetValue(0);
    progress.TheBar().SetMax(static_cast<int>(file.contacts.size()));
    progress.Show(false);
    ctx.DoEvents();

    bool found = false;
    // Moved into the safety folder rather than deleted when they were
    // changed here: any local work on a replaced contact is kept.
    const platform::DateTime reference = platform::DateTime::FromParts(1990, 1, 1);
    for (const auto& item : file.contacts) {
      const auto source = std::dynamic_pointer_cast<host::ContactItem>(item);
      if (!source || source->User4() != kExportMark) continue;
      found = true;
      const std::string corrId = source->User3();
      if (corrId.size() != kCorrIdLength) {
        Append_error_record(ctx, "The contact \"" + source->FullName() + "\" of " + fileName +
                                     " was not imported: its CorrID \"" + corrId + "\" is not " +
                                     std::to_string(kCorrIdLength) + " characters long",
                            "Import_file", "");
      } else {
        const LocalCounterpart local = FindLocalCounterpart(ctx, target, targetId, corrId);
        auto made = std::dynamic_pointer_cast<host::ContactItem>(target->Items()->Add("IPM.Contact"));
        if (!made) throw AddinError(kErrReplaceFailed, "The new item is not a contact");
        CopyContact(ctx, made, source);
        SaveReplacement(ctx, target, targetId, made, corrId, local, reference);
      }
      auto& bar = progress.TheBar();
      if (bar.Value() < bar.Max()) bar.SetValue(bar.Value() + 1);
      ctx.DoEvents();
    }

    // The folder waits for no import any more.
    const std::string importKey = FolderKeyPath(ctx, targetId) + "\\" + kImportKey;
    if (ctx.reg().KeyExists(importKey) && !ctx.reg().DeleteKey(importKey)) {
      Append_error_record(ctx, "The import mark of the folder could not be removed", "Import_file", "");
    }
    if (!PassOver([&] { ctx.app().Session()->RemoveStore(file.root); })) {
      Append_error_record(ctx, "The file " + fileName + " could not be detached after the import", "Import_file", "");
    }
    file.root.reset();
    progress.Hide();
    ctx.svc.user.MessageBox(found ? kImportSuccessful : kImportNothingFound, "Plexisync", platform::MsgBoxButtons::Ok);
    // The contacts just imported are not changes to send back to the group.
    Set_LastUpdates(ctx, targetId);
    return true;
  } catch (...) {
    Error_logger(ctx, DescribeException(std::current_exception()), "Import_file", "");
    // Contacts imported so far stay; the file is not left attached.
    if (file.root) PassOver([&] { ctx.app().Session()->RemoveStore(file.root); });
    PassOver([&] { ctx.Progress().Hide(); });
    return false;
  }
}

}  // namespace plexisync
