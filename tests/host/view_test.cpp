#include "host/ui/view.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.hpp"

namespace host {
namespace {

// The unread condition and the whole filter element the add-in writes.
const std::string kUnread = "AND (&quot;urn:schemas:httpmail:read&quot; = 0)";
const std::string kFullFilter =
    "<filter>(&quot;DAV:isfolder&quot; = false AND &quot;DAV:ishidden&quot; = false) AND "
    "(&quot;urn:schemas:httpmail:read&quot; = 0)</filter>";

// The add-in's edit of a view without filter: the filter goes in front of <viewname>.
std::string InsertFilter(const std::string& xml) {
  const long p = platform::InStr(xml, "<viewname>");
  return platform::Left(xml, p - 1) + kFullFilter + "\r\n    " + platform::Mid(xml, p);
}

std::string WithFilter(const std::string& condition) {
  return "<view type=\"table\">\r\n    <filter>" + condition + "</filter>\r\n    <viewname>Mine</viewname>\r\n</view>";
}

const ViewItemState kRead{true, false, false};
const ViewItemState kUnreadItem{false, false, false};

TEST(DefaultContactsViewXmlTest, HasViewNameColumnsAndNoFilter) {
  const std::string xml = DefaultContactsViewXml();
  EXPECT_NE(xml.find("\r\n    <viewname>Address Cards</viewname>\r\n"), std::string::npos);
  EXPECT_EQ(xml.find("<filter>"), std::string::npos);
  EXPECT_NE(xml.find("<column>"), std::string::npos);
  EXPECT_NE(xml.find("<prop>urn:schemas:contacts:fileas</prop>"), std::string::npos);
  EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\"?>\r\n<view"));
  EXPECT_TRUE(xml.ends_with("</view>\r\n"));

  const ViewFilter filter = ParseViewFilter(xml);
  EXPECT_FALSE(filter.HasFilter());
  EXPECT_FALSE(filter.Malformed());
  EXPECT_TRUE(filter.Matches(kRead));
  EXPECT_TRUE(filter.Matches(kUnreadItem));
}

TEST(ViewTest, ApplyCallsBackWithTheCurrentDefinition) {
  View view("Address Cards", DefaultContactsViewXml());
  EXPECT_EQ(view.Name(), "Address Cards");
  view.Apply();  // no callback yet: only counted
  EXPECT_EQ(view.ApplyCount(), 1);

  std::vector<std::string> seen;
  view.SetApplyCallback([&](View& v) { seen.push_back(v.XML()); });
  view.SetXML(InsertFilter(view.XML()));
  view.Apply();
  view.Apply();
  EXPECT_EQ(view.ApplyCount(), 3);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], view.XML());
  EXPECT_TRUE(view.Filter().HasFilter());
  EXPECT_FALSE(view.Filter().Matches(kRead));
}

TEST(ViewFilterTest, UnreadOnlyFilterOnTheDefaultView) {
  const std::string xml = InsertFilter(DefaultContactsViewXml());
  ASSERT_NE(xml.find(kFullFilter + "\r\n    <viewname>"), std::string::npos);
  const ViewFilter filter = ParseViewFilter(xml);
  ASSERT_TRUE(filter.HasFilter());
  EXPECT_EQ(filter.Condition(),
            "(\"DAV:isfolder\" = false AND \"DAV:ishidden\" = false) AND (\"urn:schemas:httpmail:read\" = 0)");

  struct Case {
    ViewItemState item;
    bool shown;
  };
  const Case cases[] = {
      {{false, false, false}, true},   // unread contact
      {{true, false, false}, false},   // read contact
      {{false, true, false}, false},   // unread folder
      {{false, false, true}, false},   // unread hidden item
  };
  for (const Case& c : cases) {
    EXPECT_EQ(filter.Matches(c.item), c.shown)
        << "read=" << c.item.read << " folder=" << c.item.isFolder << " hidden=" << c.item.isHidden;
  }
}

struct FilterCase {
  const char* name;
  std::string condition;  // as written inside <filter>, entities and all
  bool readShown;
  bool unreadShown;
};

class FilterEvaluationTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterEvaluationTest, ShowsWhatTheConditionAllows) {
  const FilterCase& tc = GetParam();
  const ViewFilter filter = ParseViewFilter(WithFilter(tc.condition));
  EXPECT_FALSE(filter.Malformed());
  EXPECT_EQ(filter.Matches(kRead), tc.readShown);
  EXPECT_EQ(filter.Matches(kUnreadItem), tc.unreadShown);
}

const std::string kOwn = "(&quot;DAV:isfolder&quot; = false AND &quot;DAV:ishidden&quot; = false)";

INSTANTIATE_TEST_SUITE_P(
    Conditions, FilterEvaluationTest,
    ::testing::Values(
        // The add-in's edits: a view's own filter C in parentheses with U glued on, and undone.
        FilterCase{"OwnFilterWithUnread", "(" + kOwn + ")" + kUnread, false, true},
        FilterCase{"OwnFilterRestored", "(" + kOwn + ")", true, true},
        FilterCase{"FullFilterWithoutUnread", kOwn + " ", true, true},
        FilterCase{"ReadEqualsOne", "&quot;urn:schemas:httpmail:read&quot; = 1", true, false},
        FilterCase{"NotEqual", "&quot;urn:schemas:httpmail:read&quot; &lt;&gt; 1", false, true},
        FilterCase{"BangEqual", "&quot;urn:schemas:httpmail:read&quot; != true", false, true},
        FilterCase{"ValueFirst", "0 = &quot;urn:schemas:httpmail:read&quot;", false, true},
        FilterCase{"LowerCaseKeywords", "&quot;DAV:isfolder&quot; = false and &quot;urn:schemas:httpmail:read&quot; = False",
                   false, true},
        FilterCase{"Or", "(&quot;urn:schemas:httpmail:read&quot; = 0) OR (&quot;DAV:isfolder&quot; = false)", true,
                   true},
        FilterCase{"OrBothFalse", "(&quot;urn:schemas:httpmail:read&quot; = 0) OR &quot;DAV:ishidden&quot; = 1",
                   false, true},
        FilterCase{"Not", "NOT (&quot;urn:schemas:httpmail:read&quot; = 0)", true, false},
        FilterCase{"NumericReferences", "&#34;urn:schemas:httpmail:read&#x22; = 0", false, true},
        // Conditions the listing cannot judge count as met.
        FilterCase{"UnknownAlone", "&quot;urn:schemas:contacts:o&quot; LIKE '%Acme%'", true, true},
        FilterCase{"UnknownAndUnread", "&quot;urn:schemas:contacts:o&quot; = 'Acme' " + kUnread, false, true},
        FilterCase{"UnknownOrUnread",
                   "&quot;urn:schemas:contacts:o&quot; = 'Acme' OR &quot;urn:schemas:httpmail:read&quot; = 0", true,
                   true},
        FilterCase{"NotUnknown", "NOT &quot;urn:schemas:contacts:fileas&quot; = 0", true, true},
        FilterCase{"UnknownWithList", "&quot;DAV:contentclass&quot; IN ('a', 'b') " + kUnread, false, true},
        FilterCase{"UnknownValue", "&quot;urn:schemas:httpmail:read&quot; = 'maybe'", true, true}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

struct MalformedCase {
  const char* name;
  std::string xml;
  bool malformed;
};

class MalformedViewTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedViewTest, ShowsEverythingAndNeverFails) {
  const MalformedCase& tc = GetParam();
  ViewFilter filter;
  ASSERT_NO_THROW(filter = ParseViewFilter(tc.xml));
  EXPECT_FALSE(filter.HasFilter());
  EXPECT_EQ(filter.Malformed(), tc.malformed);
  EXPECT_TRUE(filter.Matches(kRead));
  EXPECT_TRUE(filter.Matches(kUnreadItem));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MalformedViewTest,
    ::testing::Values(
        MalformedCase{"Empty", "", false},
        MalformedCase{"NotXml", std::string("\0\xff<<>>&&;;", 10), false},
        MalformedCase{"EmptyFilter", WithFilter(""), false},
        MalformedCase{"BlankFilter", WithFilter(" \r\n "), false},
        MalformedCase{"Unclosed", "<view><filter>(&quot;urn:schemas:httpmail:read&quot; = 0)", true},
        MalformedCase{"CloseBeforeOpen", "</filter><filter>", true},
        MalformedCase{"MissingParen", WithFilter("((&quot;urn:schemas:httpmail:read&quot; = 0)"), true},
        MalformedCase{"ExtraParen", WithFilter("(&quot;urn:schemas:httpmail:read&quot; = 0))"), true},
        MalformedCase{"EmptyParens", WithFilter("()"), true},
        MalformedCase{"DanglingAnd", WithFilter("&quot;urn:schemas:httpmail:read&quot; = 0 AND"), true},
        MalformedCase{"OnlyOperator", WithFilter("AND"), true},
        MalformedCase{"UnterminatedName", WithFilter("&quot;urn:schemas:httpmail:read = 0"), true},
        MalformedCase{"UnterminatedString", WithFilter("&quot;a&quot; = 'x"), true},
        MalformedCase{"BrokenEntity", WithFilter("&quot;urn:schemas:httpmail:read&quot = 0"), true},
        MalformedCase{"DeepNesting", WithFilter(std::string(100000, '(') + "\"x\" = 0" + std::string(100000, ')')),
                      true},
        MalformedCase{"LongNotChain", WithFilter([] {
                        std::string s;
                        for (int i = 0; i < 50000; ++i) s += "NOT ";
                        return s + "\"urn:schemas:httpmail:read\" = 0";
                      }()),
                      true}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST(ViewFilterTest, EntitiesAndCdataAreDecoded) {
  EXPECT_EQ(ParseViewFilter(WithFilter("&quot;a&quot; = 'x&amp;y' &lt;&gt; &apos;&#65;&#x42;&bogus;")).Condition(),
            "\"a\" = 'x&y' <> 'AB&bogus;");
  const ViewFilter cdata = ParseViewFilter(WithFilter("<![CDATA[\"urn:schemas:httpmail:read\" = 0]]>"));
  EXPECT_EQ(cdata.Condition(), "\"urn:schemas:httpmail:read\" = 0");
  EXPECT_FALSE(cdata.Matches(kRead));
  EXPECT_TRUE(cdata.Matches(kUnreadItem));
}

TEST(ViewFilterTest, LongFlatChainsAreRead) {
  std::string condition = "\"urn:schemas:httpmail:read\" = 0";
  for (int i = 0; i < 20000; ++i) condition += " AND \"DAV:isfolder\" = false";
  const ViewFilter filter = ParseViewFilter(WithFilter(condition));
  ASSERT_TRUE(filter.HasFilter());
  EXPECT_FALSE(filter.Matches(kRead));
  EXPECT_TRUE(filter.Matches(kUnreadItem));
}

}  // namespace
}  // namespace host
