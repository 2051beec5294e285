// Explorer windows: the current folder and view, activation, closing.
#include <algorithm>

#include "host/core.hpp"

namespace host {

Explorer::Explorer(std::weak_ptr<detail::Core> core, std::shared_ptr<Folder> folder, int id,
                   std::shared_ptr<CommandBarsRegistry> registry)
    : core_(std::move(core)),
      folder_(std::move(folder)),
      id_(id),
      bars_(std::make_unique<host::CommandBars>(std::move(registry))) {}

Explorer::~Explorer() = default;

host::CommandBars& Explorer::CommandBars() {
  Core()->Check("Explorer.CommandBars");
  if (closed_ || !bars_) throw HostError("The explorer window is closed.");
  return *bars_;
}

void Explorer::AttachView(const std::shared_ptr<View>& view) {
  std::weak_ptr<Folder> folder = folder_;
  std::weak_ptr<Explorer> self = weak_from_this();
  View* raw = view.get();
  view->SetApplyCallback([self, folder, raw](View& v) {
    auto f = folder.lock();
    if (!f) return;
    f->SetViewXml(v.XML());
    auto explorer = self.lock();
    if (explorer && explorer->view_.get() == raw) explorer->viewSource_ = v.XML();
  });
  view_ = view;
  viewSource_ = folder_->ViewXml();
}

std::shared_ptr<View> Explorer::CurrentView() {
  Core()->Check("Explorer.CurrentView");
  if (closed_) throw HostError("The explorer window is closed.");
  // A definition changed elsewhere since the view was made is shown afresh.
  if (view_ && folder_->ViewXml() != viewSource_) view_.reset();
  if (!view_) {
    std::string xml = folder_->ViewXml();
    std::string name;
    auto open = xml.find("<viewname>");
    auto close = xml.find("</viewname>");
    if (open != std::string::npos && close != std::string::npos && close > open) {
      name = xml.substr(open + 10, close - open - 10);
    }
    AttachView(std::make_shared<View>(name, xml));
  }
  return view_;
}

void Explorer::SetCurrentView(const std::shared_ptr<View>& view) {
  Core()->Check("Explorer.SetCurrentView");
  if (closed_) throw HostError("The explorer window is closed.");
  if (!view) throw HostError(kNotFoundMessage);
  AttachView(view);
}

std::shared_ptr<detail::Core> Explorer::Core() const {
  auto core = core_.lock();
  if (!core || core->shutDown) throw HostError("The application has been closed.");
  return core;
}

std::string Explorer::Caption() const {
  try {
    return folder_ ? folder_->Name() : std::string();
  } catch (const HostError&) {
    return {};
  }
}

std::shared_ptr<Folder> Explorer::CurrentFolder() const {
  Core()->Check("Explorer.CurrentFolder");
  if (closed_) throw HostError("The explorer window is closed.");
  return folder_;
}

void Explorer::SetCurrentFolder(const std::shared_ptr<Folder>& folder) {
  auto core = Core();
  core->Check("Explorer.SetCurrentFolder");
  if (closed_) throw HostError("The explorer window is closed.");
  if (!folder) throw HostError(kNotFoundMessage);
  folder->Name();  // the folder must exist
  bool cancel = false;
  core->Raise(beforeSwitch_, folder, cancel);
  if (cancel) return;
  folder_ = folder;
  view_.reset();  // the new folder shows its own view
  core->Raise(folderSwitch_);
}

void Explorer::Activate() {
  auto core = Core();
  core->Check("Explorer.Activate");
  if (closed_) throw HostError("The explorer window is closed.");
  core->active = shared_from_this();
  core->Raise(activate_);
}

void Explorer::Close() {
  auto core = Core();
  core->Check("Explorer.Close");
  if (closed_) return;
  core->Raise(close_);
  closed_ = true;
  bars_.reset();
  view_.reset();
  auto self = shared_from_this();
  std::erase(core->explorers, self);
  if (core->active == self) core->active = core->explorers.empty() ? nullptr : core->explorers.back();
}

Subscription Explorer::OnActivate(std::function<void()> handler) { return activate_.Add(std::move(handler)); }
Subscription Explorer::OnBeforeFolderSwitch(std::function<void(std::shared_ptr<Folder>, bool&)> handler) {
  return beforeSwitch_.Add(std::move(handler));
}
Subscription Explorer::OnFolderSwitch(std::function<void()> handler) { return folderSwitch_.Add(std::move(handler)); }
Subscription Explorer::OnClose(std::function<void()> handler) { return close_.Add(std::move(handler)); }

int Explorers::Count() const {
  core_->Check("Explorers.Count");
  return static_cast<int>(core_->explorers.size());
}

std::shared_ptr<Explorer> Explorers::Item(int index) const {
  core_->Check("Explorers.Item");
  if (index < 1 || index > static_cast<int>(core_->explorers.size())) throw HostError("Array index out of bounds.");
  return core_->explorers[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<Explorer> Explorers::Add(const std::shared_ptr<Folder>& folder) {
  core_->Check("Explorers.Add");
  if (!folder) throw HostError(kNotFoundMessage);
  folder->Name();
  auto explorer = std::make_shared<Explorer>(core_, folder, core_->nextExplorerId++, core_->commandBars);
  core_->explorers.push_back(explorer);
  core_->Raise(core_->newExplorer, explorer);
  return explorer;
}

Subscription Explorers::OnNewExplorer(std::function<void(std::shared_ptr<Explorer>)> handler) {
  return core_->newExplorer.Add(std::move(handler));
}

}  // namespace host
