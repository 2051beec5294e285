#pragma once
// Folder views: a named XML definition that decides how an explorer lists a
// folder, and the reading of the view's <filter> element that decides which
// items the listing shows.
#include <functional>
#include <memory>
#include <string>

namespace host {

class ViewFilter;

class View {
 public:
  View() = default;
  View(std::string name, std::string xml) : name_(std::move(name)), xml_(std::move(xml)) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // The definition text, stored as given (it may be any text at all).
  const std::string& XML() const { return xml_; }
  void SetXML(std::string xml) { xml_ = std::move(xml); }

  // Set by the owner (the explorer showing the view): runs on Apply so that
  // the folder is listed again under the current definition.
  void SetApplyCallback(std::function<void(View&)> callback) { onApply_ = std::move(callback); }
  // Puts the current definition into effect: counts the application and
  // calls the apply callback when one is set.
  void Apply();
  // How many times Apply ran.
  int ApplyCount() const { return applyCount_; }

  // The item filter of the current definition (ParseViewFilter of XML()).
  ViewFilter Filter() const;

 private:
  std::string name_;
  std::string xml_;
  std::function<void(View&)> onApply_;
  int applyCount_ = 0;
};

// The client's definition of the "Address Cards" view of a contacts folder:
// lines ended by carriage return and line feed, elements indented by four
// blanks, with <viewname>, columns and sort order, and no <filter>.
std::string DefaultContactsViewXml();

// What a view filter can ask about a listed item.
struct ViewItemState {
  bool read = true;       // "urn:schemas:httpmail:read"
  bool isFolder = false;  // "DAV:isfolder"
  bool isHidden = false;  // "DAV:ishidden"
};

// The item condition of a view. Conditions are comparisons of a quoted
// property with a value, joined by AND, OR and NOT with parentheses. The
// properties of ViewItemState compared by =, <> or != with 0, 1, false or
// true are evaluated; any other condition is taken as met, so that what the
// listing cannot judge stays visible. A filter that cannot be read at all
// (unbalanced parentheses, unterminated quotes, missing </filter>) shows
// every item.
class ViewFilter {
 public:
  struct Node;

  // Shows every item.
  ViewFilter() = default;

  // True when the view has a filter element with a readable condition.
  bool HasFilter() const { return root_ != nullptr; }
  // True when a filter element was present but could not be read.
  bool Malformed() const { return malformed_; }
  // The condition text with entities decoded; empty when there is none.
  const std::string& Condition() const { return condition_; }

  bool Matches(const ViewItemState& item) const;

 private:
  friend ViewFilter ParseViewFilter(const std::string& xml);
  std::shared_ptr<const Node> root_;
  std::string condition_;
  bool malformed_ = false;
};

// Reads the first <filter>...</filter> element of a view definition
// (&quot;, &apos;, &amp;, &lt;, &gt; and numeric character references
// decoded, CDATA taken as is). Never throws on bad input.
ViewFilter ParseViewFilter(const std::string& xml);

}  // namespace host
