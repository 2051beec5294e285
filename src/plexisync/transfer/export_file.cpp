// CUpdateMail::ExportToFile: the folder's contacts as a personal-folders
// file for the recipients that are too far behind for an update mail, and
// the import mail that tells their add-in which folder the file belongs to.
//
// The file holds, under its top folder, the contacts folder "Temp" with one
// copy of each contact; each copy carries its CorrID in User3 and the mark
// "Plexisync" in User4, which the import on the other side relies on.
#include <memory>
#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/mail_host.hpp"
#include "plexisync/dialogs/pictures.hpp"
#include "plexisync/send/corr_id_source.hpp"
#include "plexisync/send/safe_send.hpp"
#include "plexisync/send/update_mail.hpp"
#include "plexisync/storage/sharing_db.hpp"

namespace plexisync {

namespace {

const char* const kExportFolder = "Temp";
const char* const kExportMark = "Plexisync";
const char* const kDeletedItems = "Deleted Items";

// An earlier export into the same file: its "Temp" goes, and so does
// whatever its deletion left among the deleted items. Each step that fails
// is passed over.
void CleanUpEarlierExport(const std::shared_ptr<host::Folder>& root) {
  PassOver([&] { root->Folders()->Item(kExportFolder)->Delete(); });
  PassOver([&] {
    auto deleted = root->Folders()->Item(kDeletedItems)->Folders();
    for (int i = deleted->Count(); i >= 1; --i) {
      PassOver([&] { deleted->Item(i)->Delete(); });
    }
  });
}

// Removes an item for good: the first delete moves it among the deleted
// items of its store, the second removes it from there.
void Discard(const std::shared_ptr<host::Item>& item) {
  PassOver([&] {
    item->Delete();
    item->Delete();
  });
}

}  // namespace

void CUpdateMail::ExportToFile() {
  if (!importMail_) return;
  CRegistry& reg = ctx_.reg();
  ProgressForm* progress = PB ? &ctx_.Progress() : nullptr;
  if (progress) {
    progress->Message().SetCaption("Exporting to a file...");
    progress->TheBar().SetValue(0);
  }
  ctx_.DoEvents();
  const bool dontSendComments = platform::ToBoolean(reg.GetString(ctx_.RegKey, "Dont_Send_Comments", "False"));
  auto& dialog = ctx_.Form<Pictures>().DialogOpen;
  const auto session = ctx_.app().Session();

  while (true) {
    dialog.SetDialogTitle("Plexisync - Exporting folder " + tF_->Name() + ", enter a file name");
    dialog.SetInitDir(ctx_.InstDir);
    dialog.SetFlags(4);
    dialog.SetFileName("");
    dialog.ShowSave();
    if (dialog.FileTitle().empty() || platform::Right(dialog.FileName(), 3) != "pst") {
      ctx_.svc.user.MessageBox("Export cancelled", "", platform::MsgBoxButtons::Ok);
      stampAll_ = false;
      return;
    }
    const std::string fileName = dialog.FileName();

    // The file as a store: its top folder is the last of the session's.
    std::shared_ptr<host::Folder> root;
    bool alreadyOpen = false;
    try {
      const int storesBefore = session->Folders()->Count();
      session->AddStore(fileName);
      auto tops = session->Folders();
      // A file the client has open already (the person's own store, say)
      // adds no store: its folders are not to be cleaned up or written.
      alreadyOpen = tops->Count() != storesBefore + 1;
      if (!alreadyOpen) {
        root = tops->Item(tops->Count());
        if (root->Folders()->Count() == 2) CleanUpEarlierExport(root);
      }
    } catch (...) {
      Error_logger(ctx_, DescribeException(std::current_exception()), "ExportToFile", "");
      if (root) PassOver([&] { session->RemoveStore(root); });
      // Nobody was told of a file: the recipients behind keep their dates.
      stampAll_ = false;
      return;
    }

    if (alreadyOpen) {
      Append_error_record(ctx_, "The file " + fileName + " is open in the client already", "ExportToFile", "");
      ctx_.svc.user.MessageBox("Unable to export using file name you selected.\r\nTry to export using another name.",
                               "", platform::MsgBoxButtons::Ok);
      continue;
    }

    bool exported = false;
    try {
      auto temp = root->Folders()->Add(kExportFolder, host::kFolderTypeContacts);
      auto items = ContactItems(tF_);
      std::vector<std::shared_ptr<host::Item>> contacts;
      for (auto item = items->GetFirst(); item; item = items->GetNext()) contacts.push_back(std::move(item));
      if (progress) progress->TheBar().SetMax(static_cast<int>(contacts.size()));
      // Every copy's CorrID, and the identity entries of the contacts made
      // here, before anything is copied.
      CorrIdSource corrIds(ctx_, folderId_);
      std::vector<std::string> corrIdOf;
      corrIdOf.reserve(contacts.size());
      for (const auto& contact : contacts) corrIdOf.push_back(corrIds.Get(contact->EntryID()));
      corrIds.Flush();
      for (std::size_t i = 0; i < contacts.size(); ++i) {
        const auto& contact = contacts[i];
        const std::string& corrId = corrIdOf[i];
        if (corrId.size() != kCorrIdLength) {
          // A copy the importer would take for another contact stays out.
          ++skipped_;
          Append_error_record(ctx_,
                              "The contact " + contact->EntryID() + " was left out of the file: its CorrID \"" +
                                  corrId + "\" is not " + std::to_string(kCorrIdLength) + " characters long",
                              "ExportToFile", "");
        } else {
          const auto made = contact->Copy();
          const auto copy = std::dynamic_pointer_cast<host::ContactItem>(made);
          try {
            if (!copy) throw host::HostError("The copy of " + contact->EntryID() + " is not a contact");
            copy->SetUser3(corrId);
            copy->SetUser4(kExportMark);
            if (dontSendComments) copy->SetBody("");
            copy->Move(temp);
          } catch (...) {
            // The copy was made in the person's own folder: it must not stay.
            if (made) Discard(made);
            throw;
          }
        }
        if (progress) {
          auto& bar = progress->TheBar();
          if (bar.Value() < bar.Max()) bar.SetValue(bar.Value() + 1);
        }
        ctx_.DoEvents();
      }
      exported = true;
    } catch (...) {
      Append_error_record(ctx_, DescribeException(std::current_exception()) + " (file " + fileName + ")",
                          "ExportToFile", "");
      ctx_.svc.user.MessageBox("Unable to export using file name you selected.\r\nTry to export using another name.",
                               "", platform::MsgBoxButtons::Ok);
    }

    if (!exported) {
      if (!PassOver([&] { session->RemoveStore(root); })) {
        // The file stays open in the client; another try would write into
        // it twice. The export ends without the import mail.
        Append_error_record(ctx_, "The file " + fileName + " could not be closed after a failed export",
                            "ExportToFile", "");
        stampAll_ = false;
        return;
      }
      continue;
    }

    PassOver([&] { session->RemoveStore(root); });
    PassOver([&] {
      ctx_.svc.user.MessageBox("Contacts were successfully exported to a file\r\n\r\n" + fileName +
                                   "\r\n\r\nIn order to use this file you must restart Outlook.",
                               "Plexisync", platform::MsgBoxButtons::Ok, platform::MsgBoxIcon::Information);
    });
    bool sent = false;
    PassOver([&] { sent = Safe_Send(ctx_, importMail_); });
    // Only recipients that were told of the file count as updated.
    stampAll_ = sent;
    importMailSent_ = sent;
    importMail_.reset();
    return;
  }
}

}  // namespace plexisync
