#include "plexisync/core/unread_view.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/object_model.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"

namespace plexisync {

namespace {

constexpr std::string_view kFilterOpen = "<filter>";
constexpr std::string_view kFilterClose = "</filter>";
constexpr std::string_view kViewName = "<viewname>";
constexpr std::string_view kAddedParens = "<filter>(((";
constexpr std::string_view kFilterBreak = "\r\n    ";

// The edits below are written with 1-based positions (0: not found), the
// way the view definition is searched; these helpers keep every read inside
// the text and report an edit that would need a position or length outside it.
long long InStr(const std::string& x, std::string_view what) {
  auto p = x.find(what);
  return p == std::string::npos ? 0 : static_cast<long long>(p) + 1;
}

// The first n characters; false for a negative n.
bool Left(const std::string& x, long long n, std::string& out) {
  if (n < 0) return false;
  out += x.substr(0, static_cast<std::size_t>(std::min<long long>(n, static_cast<long long>(x.size()))));
  return true;
}

// n characters from position p on (n < 0: the rest); false for p < 1 or a
// negative length given.
bool Mid(const std::string& x, long long p, long long n, std::string& out) {
  if (p < 1) return false;
  const auto size = static_cast<long long>(x.size());
  if (p > size) return true;
  const long long avail = size - (p - 1);
  const long long take = n < 0 ? avail : std::min(n, avail);
  out += x.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(take));
  return true;
}

bool MidRest(const std::string& x, long long p, std::string& out) { return Mid(x, p, -1, out); }

// Puts the edited definition into the window's current view and applies it.
// Any failure of the client ends the routine quietly: the view stays as it was.
template <class Edit>
void EditAndApply(const std::shared_ptr<host::Explorer>& explorer, Edit edit) {
  if (!explorer) return;
  try {
    auto view = explorer->CurrentView();
    if (!view) return;
    const std::string xml = view->XML();
    auto edited = edit(xml);
    if (!edited) return;
    if (*edited != xml) view->SetXML(*edited);
    explorer->SetCurrentView(view);
    view->Apply();
  } catch (...) {
    // Quiet by design: an uneditable or unavailable view is left alone.
  }
}

}  // namespace

std::optional<std::string> UnreadOnlyViewXml(const std::string& xml) {
  const long long s = InStr(xml, kFilterOpen);
  std::string out;
  if (s > 0) {
    if (InStr(xml, kUnreadCondition) > 0) return xml;
    const long long e = InStr(xml, kFilterClose);
    const long long len = e - s - 8;
    // No "</filter>", or one before the filter's own text: nothing to wrap.
    if (e == 0 || len < 0) return std::nullopt;
    if (!Left(xml, s + 7, out)) return std::nullopt;
    out += '(';
    if (!Mid(xml, s + 8, len, out)) return std::nullopt;
    out += ')';
    out += kUnreadCondition;
    if (!MidRest(xml, e, out)) return std::nullopt;
    return out;
  }
  const long long p = InStr(xml, kViewName);
  if (p == 0) return std::nullopt;
  if (!Left(xml, p - 1, out)) return std::nullopt;
  out += kUnreadFilter;
  out += kFilterBreak;
  if (!MidRest(xml, p, out)) return std::nullopt;
  return out;
}

std::optional<std::string> FullViewXml(const std::string& xml) {
  const std::string_view u = kUnreadCondition;
  const long long p = InStr(xml, u);
  if (p == 0) return xml;
  std::string x;
  if (!Left(xml, p - 1, x) || !MidRest(xml, p + static_cast<long long>(u.size()), x)) return std::nullopt;
  const long long q = InStr(x, kAddedParens);
  if (q > 0) {
    const long long e = InStr(x, kFilterClose);
    const long long len = e - q - 11;
    // The closing element must follow the three parentheses.
    if (e == 0 || len < 0) return std::nullopt;
    std::string out;
    if (!Left(x, q + 8, out) || !Mid(x, q + 10, len, out) || !MidRest(x, e, out)) return std::nullopt;
    x = std::move(out);
  }
  return x;
}

void ShowUnreadOnly(Context& /*ctx*/, const std::shared_ptr<host::Explorer>& explorer) {
  EditAndApply(explorer, [](const std::string& xml) { return UnreadOnlyViewXml(xml); });
}

void ShowAll(Context& /*ctx*/, const std::shared_ptr<host::Explorer>& explorer) {
  EditAndApply(explorer, [](const std::string& xml) { return FullViewXml(xml); });
}

void Unread_Click(Context& ctx, host::CommandBarControl& button, const std::shared_ptr<host::Explorer>& explorer) {
  Protect(ctx, "Unread_Click", [&] {
    if (button.Caption() == kUnreadOnlyCaption) {
      button.SetCaption(kViewAllCaption);
      ShowUnreadOnly(ctx, explorer);
    } else {
      button.SetCaption(kUnreadOnlyCaption);
      ShowAll(ctx, explorer);
    }
  });
}

void MarkAllAsRead(Context& /*ctx*/, const std::shared_ptr<host::Explorer>& explorer) {
  if (!explorer) throw host::HostError("No explorer window.");
  auto folder = explorer->CurrentFolder();
  if (!folder) throw host::HostError("The window shows no folder.");
  auto items = folder->Items();
  items->Sort("[UnRead]");
  // The sorted collection is live: an item marked read moves behind the
  // unread ones. The order is therefore taken once, then walked.
  std::vector<std::shared_ptr<host::Item>> ordered;
  const int count = items->Count();
  ordered.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) ordered.push_back(items->Item(i));
  for (const auto& item : ordered) {
    if (!item->UnRead()) break;
    item->SetProperty("UnRead", host::Variant(false));
  }
  if (folder->UnReadItemCount() >= 1) {
    auto unread = items->Restrict("[UnRead] = \"True\"");
    std::vector<std::shared_ptr<host::Item>> rest;
    const int n = unread->Count();
    rest.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) rest.push_back(unread->Item(i));
    for (const auto& item : rest) item->SetProperty("UnRead", host::Variant(false));
  }
}

}  // namespace plexisync
