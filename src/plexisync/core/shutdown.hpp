#pragma once
// Shutting the add-in down when the last explorer window has closed.
namespace plexisync {

class Context;

// Unloads the share wizard's form, drops the explorer wrappers and releases
// `Exps`, `Reg` and `App`, in that order ("ShutDown"). Errors are logged
// afterwards but no report is offered, since `App` is gone; the item-added
// handlers of `Appl` stay subscribed until the add-in object ends.
void ShutDown(Context& ctx);

}  // namespace plexisync
