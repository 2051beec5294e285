#pragma once
// The share wizard "Plexisync": where the owner of a contacts folder chooses
// who receives it. Left, the contacts of a source folder (`SarIsh`); right,
// the chosen recipients (`SarI`). ">>" copies the selected contact to the
// recipients, "<< " removes the selected recipient; "Save" stores the choice
// in the sharing database, "Save && Send" stores it and sends the folder at
// once, "Cancel" stores nothing. The form is modeless, and hidden rather
// than unloaded when it closes (one default instance per add-in).
//
// Every entry of both lists: text = full name, tool tip = first e-mail
// address, tag = the contact's entry id, sub-item 1 ("Last Update On") =
// when the folder was last sent to this contact (m/d/yyyy), empty for never.
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.hpp"
#include "platform/ui/form.hpp"

namespace host {
class Folder;
}

namespace plexisync {

class Context;

class MainForm : public platform::Form {
 public:
  explicit MainForm(Context& ctx);
  ~MainForm() override;

  // The folder being shared; set before Paleisk, released when the form closes.
  std::shared_ptr<host::Folder> ShareFolder;

  platform::Label& FolderName;
  platform::Label& LookInLabel;
  platform::ComboBox& ParinkFolder;
  platform::Button& go;
  platform::Label& SearchLabel;
  platform::TextBox& FindBox;
  platform::ListView& SarIsh;
  platform::ListView& SarI;
  platform::Button& Pirmyn;
  platform::Button& Atgal;
  platform::Button& Naujas;
  platform::Button& Advanced;
  platform::Button& SaveBut;
  platform::Button& OK;
  platform::Button& Cancel;
  platform::ProgressBar& ProgressBar1;

  // Prepares and shows the form for ShareFolder ("MainForm_Load").
  void Paleisk();

  // The folder listed in SarIsh (null after Paleisk until "Update" picks one).
  const std::shared_ptr<host::Folder>& SourceFolder() const { return SourceFolder_; }
  // One entry per ParinkFolder entry: entry id, a blank, the folder's name.
  const std::vector<std::string>& FolderList() const { return FolderList_; }

  // The handlers, also what the person's clicks run.
  void go_Click();
  void ParinkFolder_DropDown();
  void Pirmyn_Click();
  void Atgal_Click();
  void FindBox_Change();
  void Naujas_Click();
  void Advanced_Click();
  void SaveBut_Click();
  void OK_Click();
  void Cancel_Click();

 protected:
  // Unloading releases the shared and the listed folder.
  void OnTerminate() override;

 private:
  void SetUp();
  void LoadFolders();
  void GetFolder(const std::shared_ptr<host::Folder>& top);
  void LoadList1();
  void LoadList2();
  void SaveChanges();

  Context& ctx_;
  std::shared_ptr<host::Folder> SourceFolder_;
  std::vector<std::string> FolderList_;
};

}  // namespace plexisync
