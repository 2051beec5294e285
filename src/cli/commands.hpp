#pragma once
// The program's commands, each run on an open session. Results go to `out`
// as text for a person or, with `json`, as one JSON document; dates are in
// the fixed text form ("6/15/2026 3:04:05 PM"). Bad input throws CliError;
// refusals of the client throw host::HostError.
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace host {
class Profile;
}

namespace cli {

class ProfileSession;

// ---- Profiles ----
void ShowProfile(const host::Profile& profile, std::ostream& out, bool json);
// The profiles under the home folder, by name.
void ListProfiles(const std::filesystem::path& home, std::ostream& out, bool json);

// ---- Folders ----
// Every folder of every open store, in tree order.
void ListFolders(ProfileSession& s, std::ostream& out, bool json);
// A contacts folder with any missing parents.
void AddFolder(ProfileSession& s, std::ostream& out, const std::string& path);
// Moves the folder under Deleted Items (removes it for good when it is there).
void DeleteFolder(ProfileSession& s, std::ostream& out, const std::string& path);

// ---- Contacts ----
// CONTACT is an entry id or a full name (exact; a name that several
// contacts share is refused). Adding needs a contacts folder; the other
// commands find contacts in any folder (Deleted Items holds them too).
std::string AddContact(ProfileSession& s, std::ostream& out, const std::string& folder,
                       const std::vector<std::string>& assignments);
void SetContact(ProfileSession& s, std::ostream& out, const std::string& folder, const std::string& contact,
                const std::vector<std::string>& assignments);
void ShowContact(ProfileSession& s, std::ostream& out, const std::string& folder, const std::string& contact,
                 bool json);
// `storeFile`: the folder is looked for in that personal-folders file
// (opened for the listing and closed again; it must exist), the path taken
// from the file's top folder. `show`: further properties printed per contact.
// `viewOnly`: only the contacts the folder's current view shows (its filter
// applied as the explorer window applies it).
void ListContacts(ProfileSession& s, std::ostream& out, const std::string& folder, bool unreadOnly, bool json,
                  const std::string& storeFile = {}, const std::vector<std::string>& show = {},
                  bool viewOnly = false);
void DeleteContact(ProfileSession& s, std::ostream& out, const std::string& folder, const std::string& contact);

// ---- Mail ----
struct MailDraft {
  std::vector<std::string> to, cc, bcc;
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;  // file paths
};
// Puts the mail into the Outbox; it goes out at the next send-receive.
// Returns its entry id.
std::string SendMail(ProfileSession& s, std::ostream& out, const MailDraft& draft);
void ListMail(ProfileSession& s, std::ostream& out, const std::string& folder, bool json);
// `saveDir`: writes each attachment into that folder under its own file
// name (made safe: no folders, no ".."; a name used twice gets " (2)").
void ShowMail(ProfileSession& s, std::ostream& out, const std::string& folder, const std::string& id, bool json,
              const std::optional<std::filesystem::path>& saveDir);
// The client's send/receive, as its button starts it. With the add-in
// loaded, the arrivals are then delivered to it (it applies the update mails
// it finds in the Inbox, asking its questions) and what changed in the
// contacts folders is reported. Returns the number of problems reported
// (printed to `out`), an error the add-in logged meanwhile counting as one.
int SendReceive(ProfileSession& s, std::ostream& out);

// ---- The add-in ----
// The options window's settings by their stored names.
void ShowOptions(ProfileSession& s, std::ostream& out, bool json);
// Opens the options window, sets the controls ("NAME=VALUE") and presses
// OK, or Cancel when `cancel`.
void ChangeOptions(ProfileSession& s, std::ostream& out, const std::vector<std::string>& assignments, bool cancel);
void ShowMyAddresses(ProfileSession& s, std::ostream& out, bool json);
// Opens the own-address window, removes and adds the addresses and presses OK.
void ChangeMyAddresses(ProfileSession& s, std::ostream& out, const std::vector<std::string>& add,
                       const std::vector<std::string>& remove);
// Prints the error log.
void ShowLog(ProfileSession& s, std::ostream& out);
// Clicks the options window's "Update and repair database". Throws CliError
// when the repair did not report success.
void RepairDatabase(ProfileSession& s, std::ostream& out);

// ---- Sharing ----
// What to do in the share wizard. Contacts are named by full name or entry
// id; the steps run in this order: the "Look in:" folder, the contacts
// added, the recipients removed, the new contacts, then the button.
struct ShareRequest {
  std::string folder;
  // The folder to list in "Look in:"; empty: the default contacts folder.
  std::string source;
  std::vector<std::string> add;
  std::vector<std::string> remove;
  // One list of PROPERTY=VALUE per contact made with "New contact...".
  std::vector<std::vector<std::string>> newContacts;
  enum class Finish { kShow, kSave, kSend, kCancel };
  // kShow: print the wizard's lists and close it with Cancel.
  Finish finish = Finish::kShow;
};
// Opens the share wizard on the folder as its Share button does and works
// it as the person would. A contact that is not there, a folder the wizard
// refuses (its message) or a step that does not take throws CliError after
// the wizard was closed with Cancel, so that nothing is stored (a contact
// made with "New contact..." is recorded at once, as the wizard does).
// Returns 1 when the add-in logged an error meanwhile, else 0.
int Share(ProfileSession& s, std::ostream& out, const ShareRequest& request, bool json);
// The folder's recipients as the sharing database holds them, and whether
// Update All sends the folder.
void ShowMembers(ProfileSession& s, std::ostream& out, const std::string& folder, bool json);
// The Update button on the folder, and Update All: the mails sent and the
// recipients stamped are reported. 1 when the add-in logged an error.
int UpdateFolder(ProfileSession& s, std::ostream& out, const std::string& folder);
int UpdateAll(ProfileSession& s, std::ostream& out);

// ---- Receiving ----
// The add-in's import of a personal-folders file (an export of a shared
// folder) into the contacts folder; the file is chosen in the add-in's file
// dialog. Reports what changed in the folder. CliError when nothing was
// imported (no file, a name not ending in ".pst", a file that does not
// open); 1 when the add-in logged an error meanwhile.
int ImportFile(ProfileSession& s, std::ostream& out, const std::string& folder);

// A file name from a mail that is safe to create inside a folder.
std::string SafeFileName(const std::string& name);

}  // namespace cli
