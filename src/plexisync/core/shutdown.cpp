#include "plexisync/core/shutdown.hpp"

#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/core/explorers.hpp"
#include "plexisync/dialogs/main_form.hpp"

namespace plexisync {

void ShutDown(Context& ctx) {
  Protect(ctx, "ShutDown", [&] {
    if (ctx.UnloadMainForm) {
      auto unload = ctx.UnloadMainForm;
      unload();
    } else {
      ctx.DropForm<MainForm>();
    }
    if (!ctx.Exps) throw AddinError(kErrObjectNotSet, "Object variable or With block variable not set");
    ctx.Exps->Uzhdaryk_fExps();
    ctx.Exps.reset();
    ctx.Reg.reset();
    ctx.App = nullptr;
  });
}

}  // namespace plexisync
