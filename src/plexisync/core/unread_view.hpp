#pragma once
// The unread-only view of a contacts folder and "Mark as Read".
//
// The toggle's state is its caption: "Unread Only" while the full view is
// shown, "View All" while only unread contacts are. The unread-only view is
// made by editing the filter element of the window's current view XML and
// applying the view; the full view takes that edit back out.
#include <memory>
#include <optional>
#include <string>

namespace host {
class Explorer;
class CommandBarControl;
}  // namespace host

namespace plexisync {

class Context;

inline constexpr const char* kUnreadOnlyCaption = "Unread Only";
inline constexpr const char* kViewAllCaption = "View All";

// The unread condition appended to a view's own filter, and the whole filter
// put into a view that has none (quotes written as the XML entity).
inline constexpr const char* kUnreadCondition = "AND (&quot;urn:schemas:httpmail:read&quot; = 0)";
inline constexpr const char* kUnreadFilter =
    "<filter>(&quot;DAV:isfolder&quot; = false AND &quot;DAV:ishidden&quot; = false) AND "
    "(&quot;urn:schemas:httpmail:read&quot; = 0)</filter>";

// The text edits alone. nullopt: the XML cannot be edited that way (it is
// then left as it is); otherwise the new text, which may equal the old one.
std::optional<std::string> UnreadOnlyViewXml(const std::string& xml);
std::optional<std::string> FullViewXml(const std::string& xml);

// Edit the window's current view and apply it. A view that cannot be edited
// stays as it was; nothing is shown or logged.
void ShowUnreadOnly(Context& ctx, const std::shared_ptr<host::Explorer>& explorer);
void ShowAll(Context& ctx, const std::shared_ptr<host::Explorer>& explorer);

// The toggle button's click ("Unread_Click", logged): flips the caption and
// shows the matching view of the window.
void Unread_Click(Context& ctx, host::CommandBarControl& button, const std::shared_ptr<host::Explorer>& explorer);

// "Mark as Read": clears the unread flag of every item of the window's
// current folder. A failure ends it; the items already marked stay marked.
void MarkAllAsRead(Context& ctx, const std::shared_ptr<host::Explorer>& explorer);

}  // namespace plexisync
