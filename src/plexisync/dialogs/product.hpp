#pragma once
// What the add-in calls itself before the person.
#include <string>
#include <vector>

namespace plexisync {

// The title of the add-in's message boxes and windows.
inline constexpr const char* kProductTitle = "Plexisync";

// The buttons of the add-in's four-answer question, in their order.
inline const std::vector<std::string>& QuestionButtonCaptions() {
  static const std::vector<std::string> captions{"Yes", "Yes to All", "No", "No to All"};
  return captions;
}

}  // namespace plexisync
