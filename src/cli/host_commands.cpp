// The commands that work on the client's folders, contacts and mail, all run
// as the person's own actions.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/folder_paths.hpp"
#include "cli/json_output.hpp"
#include "cli/properties.hpp"
#include "cli/session.hpp"
#include "cli/terminal_text.hpp"
#include "host/object_model.hpp"
#include "host/ui/view.hpp"
#include "host/transport/mail_message.hpp"
#include "platform/text.hpp"

namespace cli {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

const char* ItemTypeName(std::int32_t type) { return type == host::kContactItem ? "contacts" : "mail"; }

std::shared_ptr<host::Folder> ContactsFolder(host::NameSpace& ns, const std::string& path) {
  auto folder = ResolveFolder(ns, path);
  if (folder->DefaultItemType() != host::kContactItem) throw CliError("not a contacts folder: " + path);
  return folder;
}

std::vector<std::shared_ptr<host::Item>> ItemsOf(const host::Folder& folder) {
  std::vector<std::shared_ptr<host::Item>> list;
  auto items = folder.Items();
  const int count = items->Count();
  list.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 1; i <= count; ++i) list.push_back(items->Item(i));
  return list;
}

// The contact named by its entry id or, failing that, by its full name.
std::shared_ptr<host::ContactItem> FindContact(const host::Folder& folder, const std::string& folderPath,
                                               const std::string& name) {
  std::vector<std::shared_ptr<host::ContactItem>> byName;
  for (const auto& item : ItemsOf(folder)) {
    auto contact = std::dynamic_pointer_cast<host::ContactItem>(item);
    if (!contact) continue;
    if (platform::EqualsIgnoreCase(contact->EntryID(), name)) return contact;
    if (contact->FullName() == name) byName.push_back(contact);
  }
  if (byName.size() == 1) return byName.front();
  if (byName.size() > 1) {
    throw CliError("ambiguous contact: " + std::to_string(byName.size()) + " contacts in " + folderPath +
                   " are named \"" + name + "\"; give the entry id");
  }
  throw CliError("no such contact in " + folderPath + ": " + name);
}

std::shared_ptr<host::MailItem> FindMail(const host::Folder& folder, const std::string& folderPath,
                                         const std::string& id) {
  for (const auto& item : ItemsOf(folder)) {
    auto mail = std::dynamic_pointer_cast<host::MailItem>(item);
    if (mail && platform::EqualsIgnoreCase(mail->EntryID(), id)) return mail;
  }
  throw CliError("no such mail in " + folderPath + ": " + id);
}

std::string Date(const platform::DateTime& d) { return d.ToText(); }

// A contact's properties that differ from what a new contact shows, in
// schema order, then the item-level ones.
std::vector<std::pair<std::string, std::string>> ContactProperties(host::ContactItem& c) {
  std::vector<std::pair<std::string, std::string>> props;
  for (const auto& def : host::ContactSchema().Defs()) {
    const std::string text = c.Text(def.name);
    if (def.intrinsic || text != host::VariantToText(def.defaultValue)) props.emplace_back(def.name, text);
  }
  return props;
}

json ContactSummary(host::ContactItem& c) {
  return json{{"entryId", c.EntryID()},
              {"fullName", c.FullName()},
              {"email", c.Email1Address()},
              {"companyName", c.CompanyName()},
              {"unread", c.UnRead()},
              {"lastModified", Date(c.LastModificationTime())}};
}

json AddressJson(const std::string& name, const std::string& address) {
  return json{{"name", name}, {"address", address}};
}

json AddressListJson(const std::string& field) {
  json list = json::array();
  for (const auto& a : host::ParseAddressList(field)) list.push_back(AddressJson(a.name, a.address));
  return list;
}

json AttachmentsJson(host::MailItem& m) {
  json list = json::array();
  auto atts = m.Attachments();
  const int count = atts->Count();
  for (int i = 1; i <= count; ++i) {
    auto a = atts->Item(i);
    list.push_back(json{{"name", a->FileName()}, {"size", a->Size()}});
  }
  return list;
}

json MailSummary(host::MailItem& m) {
  return json{{"entryId", m.EntryID()},
              {"subject", m.Subject()},
              {"from", AddressJson(m.SenderName(), m.SenderEmailAddress())},
              {"to", m.To()},
              {"cc", m.CC()},
              {"received", Date(m.ReceivedTime())},
              {"sent", Date(m.SentOn())},
              {"unread", m.UnRead()},
              {"attachments", AttachmentsJson(m)}};
}

std::string Sender(host::MailItem& m) {
  const std::string name = m.SenderName();
  const std::string address = m.SenderEmailAddress();
  if (name.empty() && address.empty()) return "(not sent)";
  return host::FormatAddress(host::Address{name, address});
}

// The time a person sees in a mail list: received, else sent, else created.
platform::DateTime ShownTime(host::MailItem& m) {
  if (!m.ReceivedTime().IsNoDate() && m.ReceivedTime() != platform::DateTime::Zero()) return m.ReceivedTime();
  if (!m.SentOn().IsNoDate() && m.SentOn() != platform::DateTime::Zero()) return m.SentOn();
  return m.CreationTime();
}

// Refuses a recipients option when one of its entries is not a mail address.
void CheckRecipients(const char* option, const std::vector<std::string>& values) {
  for (const auto& value : values) {
    const auto bad = host::InvalidRecipients(value);
    if (!bad.empty()) throw CliError(std::string(option) + ": not an e-mail address: " + PrintableLine(bad.front()));
  }
}

std::string JoinAddresses(const std::vector<std::string>& list) {
  std::string text;
  for (const auto& a : list) {
    const std::string t = platform::Trim(a);
    if (t.empty()) continue;
    if (!text.empty()) text += "; ";
    text += t;
  }
  return text;
}

}  // namespace

std::string SafeFileName(const std::string& name) {
  std::string base = name;
  const std::size_t cut = base.find_last_of("/\\");
  if (cut != std::string::npos) base = base.substr(cut + 1);
  std::string clean;
  for (unsigned char ch : base) {
    if (ch < 0x20 || ch == 0x7F || ch == ':') continue;
    clean += static_cast<char>(ch);
  }
  clean = platform::Trim(clean);
  if (clean.empty() || clean == "." || clean == "..") clean = "attachment";
  if (clean.size() > 200) clean = clean.substr(clean.size() - 200);
  return clean;
}

// ---- Folders ----

void ListFolders(ProfileSession& s, std::ostream& out, bool asJson) {
  s.AsPerson([&] {
    auto ns = s.Session();
    json list = json::array();
    // Each folder before its subfolders, subfolders in their order; the
    // walk keeps its own stack, so a tree of any depth can be listed.
    std::vector<std::pair<std::shared_ptr<host::Folder>, int>> pending;  // folder, depth
    const auto pushSubfolders = [&](host::Folders& subs, int depth) {
      for (int i = subs.Count(); i >= 1; --i) pending.emplace_back(subs.Item(i), depth);
    };
    pushSubfolders(*ns->Folders(), 0);
    while (!pending.empty()) {
      const auto [f, depth] = std::move(pending.back());
      pending.pop_back();
      const std::string path = FullPath(*f);
      const std::int32_t type = f->DefaultItemType();
      const int items = f->Items()->Count();
      const int unread = f->UnReadItemCount();
      if (asJson) {
        list.push_back(json{{"path", path},
                            {"name", f->Name()},
                            {"entryId", f->EntryID()},
                            {"itemType", ItemTypeName(type)},
                            {"items", items},
                            {"unread", unread}});
      } else {
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << PrintableLine(path) << "  ("
            << ItemTypeName(type) << ", " << items << (items == 1 ? " item" : " items");
        if (unread) out << ", " << unread << " unread";
        out << ")\n";
      }
      pushSubfolders(*f->Folders(), depth + 1);
    }
    if (asJson) PrintJson(out, list);
  });
}

void AddFolder(ProfileSession& s, std::ostream& out, const std::string& path) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto made = AddContactsFolder(*ns, path);
    for (const auto& p : made.created) out << "Created contacts folder " << PrintableLine(p) << "\n";
  });
}

void DeleteFolder(ProfileSession& s, std::ostream& out, const std::string& path) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, path);
    const std::string full = FullPath(*folder);
    folder->Delete();
    out << "Deleted folder " << PrintableLine(full) << "\n";
  });
}

// ---- Contacts ----

std::string AddContact(ProfileSession& s, std::ostream& out, const std::string& folderPath,
                       const std::vector<std::string>& assignments) {
  const auto values = ParseAssignments(host::ContactSchema(), assignments);
  return s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ContactsFolder(*ns, folderPath);
    auto item = folder->Items()->Add(host::kContactItem);
    Apply(*item, values);
    item->Save();
    const std::string id = item->EntryID();
    out << id << "\n";
    return id;
  });
}

void SetContact(ProfileSession& s, std::ostream& out, const std::string& folderPath, const std::string& name,
                const std::vector<std::string>& assignments) {
  const auto values = ParseAssignments(host::ContactSchema(), assignments);
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, folderPath);
    auto contact = FindContact(*folder, folderPath, name);
    Apply(*contact, values);
    contact->Save();
    out << "Saved " << PrintableLine(contact->FullName()) << " (" << contact->EntryID() << ")\n";
  });
}

void ShowContact(ProfileSession& s, std::ostream& out, const std::string& folderPath, const std::string& name,
                 bool asJson) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, folderPath);
    auto contact = FindContact(*folder, folderPath, name);
    const auto props = ContactProperties(*contact);
    if (asJson) {
      json doc = ContactSummary(*contact);
      doc["folder"] = FullPath(*folder);
      doc["created"] = Date(contact->CreationTime());
      json p = json::object();
      for (const auto& [k, v] : props) p[k] = v;
      doc["properties"] = p;
      PrintJson(out, doc);
      return;
    }
    std::size_t width = 0;
    for (const auto& [k, v] : props) width = std::max(width, k.size());
    for (const auto& [k, v] : props) {
      out << k << ":" << std::string(width - k.size() + 1, ' ');
      // Continuation lines of a text with line breaks are indented.
      std::string shown;
      for (char ch : v) {
        if (ch == '\r') continue;
        shown += ch;
        if (ch == '\n') shown += std::string(width + 2, ' ');
      }
      out << Printable(shown) << "\n";
    }
  });
}

void ListContacts(ProfileSession& s, std::ostream& out, const std::string& folderPath, bool unreadOnly,
                  bool asJson, const std::string& storeFile, const std::vector<std::string>& show, bool viewOnly) {
  for (const auto& name : show) {
    if (!host::ContactSchema().Find(name)) throw CliError("unknown contact property: " + name);
  }
  s.AsPerson([&] {
    auto ns = s.Session();
    std::shared_ptr<host::Folder> folder;
    // A file opened for the listing is closed again however the listing ends.
    struct Close {
      host::NameSpace& ns;
      std::shared_ptr<host::Folder> root;
      ~Close() {
        if (!root) return;
        try {
          ns.RemoveStore(root);
        } catch (...) {
          // The client closes it at its end.
        }
      }
    } close{*ns, nullptr};
    if (!storeFile.empty()) {
      // Opening a file that is not there would make one: only existing files.
      std::error_code ec;
      if (!fs::is_regular_file(storeFile, ec)) throw CliError("no such file: " + storeFile);
      const int before = ns->Folders()->Count();
      ns->AddStore(storeFile);
      if (ns->Folders()->Count() != before + 1) throw CliError("the file is open in this profile already: " + storeFile);
      close.root = ns->Folders()->Item(before + 1);
      folder = close.root;
      for (const auto& name : SplitFolderPath(folderPath)) {
        auto subs = folder->Folders();
        std::shared_ptr<host::Folder> next;
        const int count = subs->Count();
        for (int i = 1; i <= count && !next; ++i) {
          auto sub = subs->Item(i);
          if (sub->Name() == name) next = sub;
        }
        if (!next) throw CliError("no such folder in " + storeFile + ": " + folderPath);
        folder = next;
      }
    } else {
      folder = ResolveFolder(*ns, folderPath);
    }
    json list = json::array();
    const host::ViewFilter view = viewOnly ? host::ParseViewFilter(folder->ViewXml()) : host::ViewFilter();
    for (const auto& item : ItemsOf(*folder)) {
      auto c = std::dynamic_pointer_cast<host::ContactItem>(item);
      if (!c) continue;
      if (unreadOnly && !c->UnRead()) continue;
      if (viewOnly && !view.Matches(host::ViewItemState{!c->UnRead(), false, false})) continue;
      if (asJson) {
        json summary = ContactSummary(*c);
        for (const auto& name : show) summary[name] = c->Text(name);
        list.push_back(std::move(summary));
        continue;
      }
      out << c->EntryID() << "  " << PrintableLine(c->FullName());
      const std::string email = c->Email1Address();
      if (!email.empty()) out << " <" << PrintableLine(email) << ">";
      if (c->UnRead()) out << "  [unread]";
      for (const auto& name : show) out << "  " << name << "=" << PrintableLine(c->Text(name));
      out << "\n";
    }
    if (asJson) PrintJson(out, list);
  });
}

void DeleteContact(ProfileSession& s, std::ostream& out, const std::string& folderPath, const std::string& name) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, folderPath);
    auto contact = FindContact(*folder, folderPath, name);
    const std::string shown = contact->FullName();
    contact->Delete();
    out << "Deleted " << PrintableLine(shown) << "\n";
  });
}

// ---- Mail ----

std::string SendMail(ProfileSession& s, std::ostream& out, const MailDraft& draft) {
  const std::string to = JoinAddresses(draft.to);
  const std::string cc = JoinAddresses(draft.cc);
  const std::string bcc = JoinAddresses(draft.bcc);
  if (to.empty() && cc.empty() && bcc.empty()) throw CliError("no recipient: give --to, --cc or --bcc");
  CheckRecipients("--to", draft.to);
  CheckRecipients("--cc", draft.cc);
  CheckRecipients("--bcc", draft.bcc);
  for (const auto& path : draft.attachments) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw CliError("cannot read attachment: " + path);
  }
  return s.AsPerson([&] {
    auto mail = s.App().CreateMailItem();
    if (!to.empty()) mail->SetTo(to);
    if (!cc.empty()) mail->SetCC(cc);
    if (!bcc.empty()) mail->SetBCC(bcc);
    mail->SetSubject(draft.subject);
    mail->SetBody(draft.body);
    for (const auto& path : draft.attachments) mail->Attachments()->Add(path);
    mail->Send();
    const std::string id = mail->EntryID();
    out << "Mail \"" << draft.subject << "\" is in the Outbox; it goes out at the next send-receive.\n";
    out << id << "\n";
    return id;
  });
}

void ListMail(ProfileSession& s, std::ostream& out, const std::string& folderPath, bool asJson) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, folderPath);
    json list = json::array();
    for (const auto& item : ItemsOf(*folder)) {
      auto m = std::dynamic_pointer_cast<host::MailItem>(item);
      if (!m) continue;
      if (asJson) {
        list.push_back(MailSummary(*m));
        continue;
      }
      out << m->EntryID() << "  " << Date(ShownTime(*m)) << "  " << PrintableLine(Sender(*m)) << "  \"" << PrintableLine(m->Subject()) << "\"";
      if (m->UnRead()) out << "  [unread]";
      const int atts = m->Attachments()->Count();
      if (atts) out << "  [" << atts << (atts == 1 ? " attachment]" : " attachments]");
      out << "\n";
    }
    if (asJson) PrintJson(out, list);
  });
}

void ShowMail(ProfileSession& s, std::ostream& out, const std::string& folderPath, const std::string& id, bool asJson,
              const std::optional<fs::path>& saveDir) {
  s.AsPerson([&] {
    auto ns = s.Session();
    auto folder = ResolveFolder(*ns, folderPath);
    auto m = FindMail(*folder, folderPath, id);

    std::vector<std::string> saved;
    if (saveDir) {
      std::error_code ec;
      fs::create_directories(*saveDir, ec);
      if (!fs::is_directory(*saveDir, ec)) throw CliError("cannot create folder: " + saveDir->string());
      std::set<std::string> used;
      auto atts = m->Attachments();
      const int count = atts->Count();
      for (int i = 1; i <= count; ++i) {
        auto a = atts->Item(i);
        std::string name = SafeFileName(a->FileName());
        const fs::path p(name);
        const std::string stem = p.stem().string(), ext = p.extension().string();
        for (int n = 2; used.count(name); ++n) name = stem + " (" + std::to_string(n) + ")" + ext;
        used.insert(name);
        const fs::path target = *saveDir / name;
        a->SaveAsFile(target.string());
        saved.push_back(target.string());
      }
    }

    if (asJson) {
      json doc = MailSummary(*m);
      doc["folder"] = FullPath(*folder);
      doc["toList"] = AddressListJson(m->To());
      doc["ccList"] = AddressListJson(m->CC());
      doc["bcc"] = m->BCC();
      doc["body"] = m->Body();
      doc["created"] = Date(m->CreationTime());
      if (saveDir) doc["saved"] = saved;
      PrintJson(out, doc);
      return;
    }
    out << "Entry ID: " << m->EntryID() << "\n";
    out << "From:     " << PrintableLine(Sender(*m)) << "\n";
    out << "To:       " << PrintableLine(m->To()) << "\n";
    if (!m->CC().empty()) out << "Cc:       " << PrintableLine(m->CC()) << "\n";
    if (!m->BCC().empty()) out << "Bcc:      " << PrintableLine(m->BCC()) << "\n";
    out << "Subject:  " << PrintableLine(m->Subject()) << "\n";
    out << "Date:     " << Date(ShownTime(*m)) << "\n";
    auto atts = m->Attachments();
    const int count = atts->Count();
    for (int i = 1; i <= count; ++i) {
      auto a = atts->Item(i);
      out << "Attached: " << PrintableLine(a->FileName()) << " (" << a->Size() << " bytes)\n";
    }
    for (const auto& p : saved) out << "Saved:    " << PrintableLine(p) << "\n";
    out << "\n";
    std::string body = m->Body();
    body.erase(std::remove(body.begin(), body.end(), '\r'), body.end());
    body = Printable(body);
    out << body;
    if (!body.empty() && body.back() != '\n') out << "\n";
  });
}

}  // namespace cli
