#pragma once
// The mail client's object model, as the add-in sees it: the application,
// its session (namespace) with the stores and their folders, item
// collections, contact and mail items, explorer windows, the send/receive
// group, and the safe-item objects that read protected fields and send mail
// without the security prompt.
//
// Every object is handed out as std::shared_ptr and is a handle: folders and
// items refer to their stored data, so two handles of one folder or one
// saved item see the same data. A failed or refused call throws HostError.
//
// Events: item-added events are queued and delivered by the message loop
// (Application::DoEvents), never from inside the call that added the item;
// explorer events and the send/receive start event are raised while the
// call that causes them runs. Handlers always run as program calls, and an
// exception a handler lets out is kept (Application::EscapedErrors) instead
// of reaching the caller.
//
// The security guard watches programs: reading e-mail addresses and other
// protected fields, the current user's address, or sending with a mail
// item's own Send asks the person while the application is in program mode
// (the default). PersonScope marks the person's own actions, which never ask.
//
// Each area has its own header under host/object_model/; this one brings them all.
#include "host/object_model/base.hpp"
#include "host/object_model/application.hpp"
#include "host/object_model/session.hpp"
#include "host/object_model/folders.hpp"
#include "host/object_model/items.hpp"
#include "host/object_model/explorers.hpp"
#include "host/object_model/sync.hpp"
#include "host/object_model/safe_items.hpp"
