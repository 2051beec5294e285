#pragma once
// Explorer windows and their collection.
#include "host/object_model/base.hpp"

namespace host {

class Explorer : public Object, public std::enable_shared_from_this<Explorer> {
 public:
  Explorer(std::weak_ptr<detail::Core> core, std::shared_ptr<Folder> folder, int id,
           std::shared_ptr<CommandBarsRegistry> registry);
  ~Explorer() override;
  std::string DefaultValue() const override { return Caption(); }
  std::string Caption() const;
  int Id() const { return id_; }

  std::shared_ptr<Folder> CurrentFolder() const;
  // Raises BeforeFolderSwitch (a handler may cancel), then FolderSwitch.
  void SetCurrentFolder(const std::shared_ptr<Folder>& folder);
  // Raises Activate; the explorer becomes the active one.
  void Activate();
  // Raises Close and removes the explorer from the Explorers.
  void Close();
  bool IsClosed() const { return closed_; }

  // The window's toolbars and menu bar ("Standard", "Menu Bar"). Buttons
  // with one tag share their click events across all windows.
  host::CommandBars& CommandBars();
  // The view the window shows: the current folder's view definition.
  // Applying it stores its XML as the folder's definition.
  std::shared_ptr<View> CurrentView();
  // Shows another view in the window (its XML becomes the folder's
  // definition when it is applied).
  void SetCurrentView(const std::shared_ptr<View>& view);

  Subscription OnActivate(std::function<void()> handler);
  Subscription OnBeforeFolderSwitch(std::function<void(std::shared_ptr<Folder>, bool& cancel)> handler);
  Subscription OnFolderSwitch(std::function<void()> handler);
  Subscription OnClose(std::function<void()> handler);

 private:
  std::shared_ptr<detail::Core> Core() const;
  std::weak_ptr<detail::Core> core_;
  void AttachView(const std::shared_ptr<View>& view);
  std::shared_ptr<Folder> folder_;
  int id_;
  bool closed_ = false;
  std::unique_ptr<host::CommandBars> bars_;
  std::shared_ptr<View> view_;
  std::string viewSource_;  // the folder's definition the view was made from or last applied
  detail::EventSource<> activate_;
  detail::EventSource<std::shared_ptr<Folder>, bool&> beforeSwitch_;
  detail::EventSource<> folderSwitch_;
  detail::EventSource<> close_;
};

class Explorers {
 public:
  explicit Explorers(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  int Count() const;
  // 1-based.
  std::shared_ptr<Explorer> Item(int index) const;
  // Opens a new explorer window on the folder and raises NewExplorer.
  std::shared_ptr<Explorer> Add(const std::shared_ptr<Folder>& folder);
  Subscription OnNewExplorer(std::function<void(std::shared_ptr<Explorer>)> handler);

 private:
  std::shared_ptr<detail::Core> core_;
};

}  // namespace host
