#include "plexisync/core/appl.hpp"

#include <string>
#include <vector>

#include "host/object_model.hpp"
#include "host/profile.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/dialogs/adv_settings.hpp"
#include "plexisync/dialogs/my_mails.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

namespace {

constexpr const char* kFirstStartMessage =
    "You have launched Plexisync for the first time. Now you will be asked for access. "
    "To allow Plexisync function properly, you should enable the access.";

}  // namespace

bool IsUpdateMail(const host::Item& item) { return item.DefaultValue() == kUpdateMailSubject; }

Appl::Appl(Context& ctx) : ctx_(ctx) {
  ProceedInbox = [&ctx] { Proceed_Inbox(ctx); };
}

Appl::~Appl() { Class_Terminate(); }

void Appl::Init(host::Application& app) {
  Protect(ctx_, "AppInit", [&] {
    ctx_.App = &app;
    // Until SetUp reads the stored "InstDir", errors are logged in the
    // profile's own add-in folder.
    if (ctx_.InstDir.empty()) ctx_.InstDir = app.Profile().InstallDirText();
  });
}

void Appl::SetUp() {
  Protect(ctx_, "AppSetUp", [&] {
    RegInit(ctx_);
    ctx_.InstDir = Get_InstDir(ctx_);
    CheckVersion();

    auto session = ctx_.app().Session();
    ibx = session->GetDefaultFolder(host::kFolderInbox)->Items()->OnItemAdd(
        [this](std::shared_ptr<host::Item> item) { ibx_ItemAdd(item); });
    sent = session->GetDefaultFolder(host::kFolderDeletedItems)->Items()->OnItemAdd(
        [this](std::shared_ptr<host::Item> item) { sent_ItemAdd(item); });
    sh = session->GetDefaultFolder(host::kFolderSentMail)->Items()->OnItemAdd(
        [this](std::shared_ptr<host::Item> item) { sh_ItemAdd(item); });

    FirstStart();
    Create_Explorers(ctx_);
    ctx_.Form<AdvSettings>().Load();
  });
}

void Appl::CheckVersion() {
  CRegistry& reg = ctx_.reg();
  const std::string& key = ctx_.RegKey;
  if (reg.GetString(key, "version", "0") == kLayoutVersion) return;

  // Data of another layout is discarded, not converted. Deletion reaches two
  // levels below the profile key; a deeper key keeps its parents.
  reg.DeleteKey(key + "mapping");
  reg.DeleteKey(key + "Updateable");
  for (const std::string& sub : reg.GetAllSubKeys(key)) {
    const std::string subKey = key + sub;
    for (const std::string& subSub : reg.GetAllSubKeys(subKey)) {
      reg.DeleteKey(subKey + "\\" + subSub);
    }
    reg.DeleteKey(subKey);
  }
  reg.DeleteKey(key);
  reg.CreateKey(key);
  reg.SetValue(key, "version", std::string(kLayoutVersion), 1);
}

void Appl::FirstStart() {
  CRegistry& reg = ctx_.reg();
  const std::string& key = ctx_.RegKey;
  // A value that does not exist reads as this default, which no stored list
  // can equal: a list always closes with character 158.
  const std::string absent = kMyMailOpen;
  if (reg.GetString(key, "MyMails", absent) != absent) return;

  ctx_.svc.user.MessageBox(kFirstStartMessage, "Plexisync", platform::MsgBoxButtons::Ok);

  // Reading the current user's address makes the client ask the person for
  // access; a refusal (or any other failure here) leaves the list empty.
  PassOver([&] {
    auto session = ctx_.app().Session();
    const std::string address = session->CurrentUser()->Address();
    if (!address.empty()) {
      reg.SetValue(key, "MyMails",
                   std::string(kMyMailOpen) + session->CurrentUser()->Address() + kMyMailClose, 1);
    }
  });
  if (reg.GetString(key, "MyMails", absent) == absent) {
    reg.SetValue(key, "MyMails", std::string(), 1);
  }

  auto& myMails = ctx_.Form<frmMyMails>();
  myMails.FirstRun = true;
  struct ClearFirstRun {
    frmMyMails& form;
    ~ClearFirstRun() { form.FirstRun = false; }
  } clear{myMails};
  myMails.Show(true);
}

void Appl::Class_Terminate() {
  PassOver([&] { sent.Reset(); });
  PassOver([&] { ibx.Reset(); });
  PassOver([&] { sh.Reset(); });
}

void Appl::ibx_ItemAdd(const std::shared_ptr<host::Item>& /*item*/) {
  PassOver([&] {
    if (ProceedInbox) {
      auto run = ProceedInbox;  // the hook may be replaced while it runs
      run();
    }
  });
}

void Appl::sent_ItemAdd(const std::shared_ptr<host::Item>& item) {
  Protect(ctx_, "App_SentAdd", [&] {
    if (!item) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    if (IsUpdateMail(*item)) item->Delete();
  });
}

void Appl::sh_ItemAdd(const std::shared_ptr<host::Item>& item) {
  PassOver([&] {
    if (!item) return;
    if (IsUpdateMail(*item)) item->Delete();
  });
}

}  // namespace plexisync
