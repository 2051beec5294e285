// The unread-only view (text edits of the view definition, applying them to
// the window's current view, the toggle's caption) and "Mark as Read".
#include "plexisync/core/unread_view.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "addin_fixture.hpp"
#include "host/object_model.hpp"
#include "host/ui/view.hpp"

namespace plexisync {
namespace {

const std::string U = kUnreadCondition;
const std::string F = kUnreadFilter;
const std::string kHead = "<?xml version=\"1.0\"?>\r\n<view type=\"card\">\r\n    ";
const std::string kTail = "<viewname>Address Cards</viewname>\r\n    <viewstyle>x</viewstyle>\r\n</view>";
const std::string C = "&quot;urn:schemas:contacts:cn&quot; LIKE '%a%'";

struct EditCase {
  const char* name;
  std::string xml;
  std::optional<std::string> unreadOnly;  // UnreadOnlyViewXml
  std::optional<std::string> full;        // FullViewXml
};

TEST(UnreadViewXml, EditsFollowTheTable) {
  const std::vector<EditCase> cases = {
      {"no filter: F, CR LF and four blanks before <viewname>", kHead + kTail,
       kHead + F + "\r\n    " + kTail, kHead + kTail},
      {"filter already holding U: unchanged", kHead + F + "\r\n    " + kTail, kHead + F + "\r\n    " + kTail,
       // F without U keeps the blank before </filter>
       kHead + "<filter>(&quot;DAV:isfolder&quot; = false AND &quot;DAV:ishidden&quot; = false) </filter>\r\n    " +
           kTail},
      {"own filter C: wrapped and U appended", kHead + "<filter>" + C + "</filter>" + kTail,
       kHead + "<filter>(" + C + ")" + U + "</filter>" + kTail, kHead + "<filter>" + C + "</filter>" + kTail},
      {"C wrapped with U: the full view keeps one pair", kHead + "<filter>(" + C + ")" + U + "</filter>" + kTail,
       kHead + "<filter>(" + C + ")" + U + "</filter>" + kTail, kHead + "<filter>(" + C + ")</filter>" + kTail},
      {"two pairs around C: only U is removed", "<filter>((" + C + "))" + U + "</filter>",
       "<filter>((" + C + "))" + U + "</filter>", "<filter>((" + C + "))</filter>"},
      {"three opening parentheses: one added pair is undone", "<filter>(((" + C + ")))" + U + "</filter>",
       "<filter>(((" + C + ")))" + U + "</filter>", "<filter>((" + C + "))</filter>"},
      {"empty filter", "<filter></filter>", "<filter>()" + U + "</filter>", "<filter></filter>"},
      {"no <viewname>: cannot insert a filter", "<view></view>", std::nullopt, "<view></view>"},
      {"empty text", "", std::nullopt, ""},
      {"</filter> before <filter>", "</filter><viewname>v</viewname><filter>" + C, std::nullopt,
       "</filter><viewname>v</viewname><filter>" + C},
      {"<filter> without </filter>", "<filter>" + C + "<viewname>v</viewname>", std::nullopt,
       "<filter>" + C + "<viewname>v</viewname>"},
      {"U outside a closed filter: the full view cannot undo the pair", "<filter>(((" + U + "x",
       "<filter>(((" + U + "x", std::nullopt},
      {"</filter> ahead of the three parentheses", "</filter>" + U + "<filter>(((a",
       "</filter>" + U + "<filter>(((a", std::nullopt},
      {"</filter> right after the three parentheses", "<filter>(((" + U + "</filter>",
       "<filter>(((" + U + "</filter>", "<filter>(</filter>"},
      {"a case-different marker is not a filter", "<FILTER>x</FILTER><viewname>",
       "<FILTER>x</FILTER>" + F + "\r\n    <viewname>", "<FILTER>x</FILTER><viewname>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto unreadOnly = UnreadOnlyViewXml(c.xml);
    EXPECT_EQ(unreadOnly, c.unreadOnly);
    EXPECT_EQ(FullViewXml(c.xml), c.full);
  }
}

TEST(UnreadViewXml, RepeatedPairsNeverNestMoreThanTwoAddedPairs) {
  // Each start's leading "(" count after <filter>: the edits may add at most two.
  struct Start {
    std::string xml;
    std::size_t ownParens;
  };
  const auto leading = [](const std::string& x) {
    const auto at = x.find("<filter>");
    if (at == std::string::npos) return std::size_t{0};
    std::size_t n = 0;
    while (at + 8 + n < x.size() && x[at + 8 + n] == '(') ++n;
    return n;
  };
  for (const auto& start : std::vector<Start>{{kHead + kTail, 1}, {"<filter>" + C + "</filter>", 0},
                                              {"<filter>((" + C + "))</filter>", 2}}) {
    SCOPED_TRACE(start.xml);
    std::string x = start.xml;
    std::vector<std::string> seen;
    for (int round = 0; round < 6; ++round) {
      auto on = UnreadOnlyViewXml(x);
      ASSERT_TRUE(on.has_value());
      EXPECT_NE(on->find(U), std::string::npos);
      auto off = FullViewXml(*on);
      ASSERT_TRUE(off.has_value());
      EXPECT_EQ(off->find(U), std::string::npos);
      EXPECT_LE(leading(*off), start.ownParens + 2) << "round " << round;
      seen.push_back(*off);
      x = *off;
    }
    // The text settles: the last rounds leave it as it is.
    EXPECT_EQ(seen[4], seen[5]);
  }
}

class UnreadViewTest : public testing::AddinTest {
 protected:
  struct Window {
    std::shared_ptr<host::Folder> folder;
    std::shared_ptr<host::Explorer> explorer;
  };
  Window OpenContacts(testing::AddinMachine& m, const std::string& viewXml) {
    auto folder = m.DefaultFolder(host::kFolderContacts);
    folder->SetViewXml(viewXml);
    auto explorer = m.app->Explorers()->Add(folder);
    return {folder, explorer};
  }
  static std::shared_ptr<host::Item> AddContact(testing::AddinMachine& m, const std::shared_ptr<host::Folder>& f,
                                                const std::string& name, bool unread) {
    host::PersonScope person(*m.app);
    auto c = f->Items()->Add(host::kContactItem);
    c->SetText("FullName", name);
    c->Save();
    c->SetUnRead(unread);
    return c;
  }
};

TEST_F(UnreadViewTest, ShowUnreadOnlyAndShowAllEditAndApplyTheCurrentView) {
  auto& m = Machine();
  m.StartReturning();
  auto w = OpenContacts(m, kHead + "<filter>" + C + "</filter>" + kTail);

  auto view = w.explorer->CurrentView();
  const int applied = view->ApplyCount();
  ShowUnreadOnly(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), kHead + "<filter>(" + C + ")" + U + "</filter>" + kTail);
  EXPECT_EQ(w.explorer->CurrentView()->ApplyCount(), applied + 1);

  // Already filtered: the text stays, the view is applied again.
  ShowUnreadOnly(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), kHead + "<filter>(" + C + ")" + U + "</filter>" + kTail);
  EXPECT_EQ(w.explorer->CurrentView()->ApplyCount(), applied + 2);

  ShowAll(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), kHead + "<filter>(" + C + ")</filter>" + kTail);
  // Without U: unchanged, applied again.
  ShowAll(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), kHead + "<filter>(" + C + ")</filter>" + kTail);
  EXPECT_EQ(w.explorer->CurrentView()->ApplyCount(), applied + 4);
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(UnreadViewTest, AnUneditableViewStaysAsItWasAndIsNotApplied) {
  auto& m = Machine();
  m.StartReturning();
  const std::string bad = "</filter>" + U + "<filter>(((a";
  auto w = OpenContacts(m, bad);
  auto view = w.explorer->CurrentView();
  const int applied = view->ApplyCount();
  ShowAll(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), bad);
  EXPECT_EQ(w.explorer->CurrentView()->XML(), bad);
  EXPECT_EQ(w.explorer->CurrentView()->ApplyCount(), applied);

  w.folder->SetViewXml("<view>no name</view>");
  ShowUnreadOnly(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->ViewXml(), "<view>no name</view>");
  EXPECT_EQ(m.ErrorLog(), "");
  EXPECT_EQ(m.user.Problems(), "");
}

TEST_F(UnreadViewTest, TheToggleFlipsItsCaptionAndTheViewTwiceBackToTheFullView) {
  auto& m = Machine();
  m.StartReturning();
  auto w = OpenContacts(m, kHead + kTail);
  auto& bar = w.explorer->CommandBars().Item("Standard");
  auto& control = bar.Controls().Add(host::ControlType::Button, 0, true);
  auto button = control.Handle();
  button->SetCaption(kUnreadOnlyCaption);

  Unread_Click(*m.ctx, *button, w.explorer);
  EXPECT_EQ(button->Caption(), kViewAllCaption);
  EXPECT_EQ(w.folder->ViewXml(), kHead + F + "\r\n    " + kTail);
  // The listing now hides read items.
  EXPECT_FALSE(w.explorer->CurrentView()->Filter().Matches(host::ViewItemState{true, false, false}));
  EXPECT_TRUE(w.explorer->CurrentView()->Filter().Matches(host::ViewItemState{false, false, false}));

  Unread_Click(*m.ctx, *button, w.explorer);
  EXPECT_EQ(button->Caption(), kUnreadOnlyCaption);
  EXPECT_EQ(w.folder->ViewXml(),
            kHead + "<filter>(&quot;DAV:isfolder&quot; = false AND &quot;DAV:ishidden&quot; = false) </filter>\r\n    " +
                kTail);
  EXPECT_TRUE(w.explorer->CurrentView()->Filter().Matches(host::ViewItemState{true, false, false}));
  EXPECT_EQ(m.ErrorLog(), "");
}

TEST_F(UnreadViewTest, MarkAsReadClearsEveryUnreadContact) {
  auto& m = Machine();
  m.StartReturning();
  auto w = OpenContacts(m, kHead + kTail);
  // Read and unread interleaved, so that the sorted walk must not skip any.
  std::vector<std::shared_ptr<host::Item>> contacts;
  for (int i = 0; i < 7; ++i) contacts.push_back(AddContact(m, w.folder, "Contact " + std::to_string(i), i % 3 != 1));
  ASSERT_EQ(w.folder->UnReadItemCount(), 5);
  std::vector<platform::DateTime> modified;
  for (const auto& c : contacts) modified.push_back(c->LastModificationTime());

  MarkAllAsRead(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->UnReadItemCount(), 0);
  for (std::size_t i = 0; i < contacts.size(); ++i) {
    EXPECT_FALSE(contacts[i]->UnRead()) << i;
    EXPECT_EQ(contacts[i]->LastModificationTime(), modified[i]) << i;
  }
  EXPECT_EQ(w.folder->Items()->Count(), 7);
}

TEST_F(UnreadViewTest, MarkAsReadOnAnAllReadFolderChangesNothing) {
  auto& m = Machine();
  m.StartReturning();
  auto w = OpenContacts(m, kHead + kTail);
  for (int i = 0; i < 3; ++i) AddContact(m, w.folder, "Read " + std::to_string(i), false);
  MarkAllAsRead(*m.ctx, w.explorer);
  EXPECT_EQ(w.folder->UnReadItemCount(), 0);
  EXPECT_EQ(w.folder->Items()->Count(), 3);

  auto empty = m.DefaultFolder(host::kFolderContacts)->Folders()->Add("Empty", host::kFolderTypeContacts);
  w.explorer->SetCurrentFolder(empty);
  MarkAllAsRead(*m.ctx, w.explorer);
  EXPECT_EQ(empty->UnReadItemCount(), 0);
}

}  // namespace
}  // namespace plexisync
