#include "plexisync/core/context.hpp"

#include "host/object_model.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/transfer/import_file.hpp"

namespace plexisync {

Context::Context(AddinServices services) : svc(std::move(services)) {
  Import_file = [this](const std::shared_ptr<host::Folder>& folder) { return plexisync::Import_file(*this, folder); };
}

Context::~Context() {
  // Forms may refer to the context while they unload: drop them first.
  for (auto& [type, form] : forms_) {
    if (form && form->IsLoaded()) {
      try {
        form->Unload();
      } catch (...) {
      }
    }
  }
  forms_.clear();
  Exps.reset();
}

host::Application& Context::app() const {
  if (!App) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
  return *App;
}

CRegistry& Context::reg() const {
  if (!Reg) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
  return *Reg;
}

std::string Context::InstallFile(const std::string& name) const {
  if (InstDir.empty()) throw AddinError(kErrPathNotFound, "Path not found: the installation folder is not known yet");
  return InstDir + name;
}

void Context::DoEvents() const {
  if (App) App->DoEvents();
}

}  // namespace plexisync
