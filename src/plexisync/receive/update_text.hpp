#pragma once
// Taking the text of an update mail apart without trusting it. Values in
// contact records are not escaped, so marker texts may occur inside them;
// these rules keep such text from cutting records short or being read as
// deletions:
//   - the head is the text before the first ":StartOfContact:"; deleted lines
//     and the recipients block count only there;
//   - a record runs from its ":StartOfContact:" to the ":EndOfContact:" CR LF
//     that is followed by the next ":StartOfContact:" or by the end of the
//     text (an import mail's marker may follow the last record's end too);
//   - a record without such an end is truncated and is not applied.
// Texts that follow the layout read exactly as the plain searches read them.
#include <string>
#include <string_view>
#include <vector>

namespace plexisync {

struct UpdateTextParts {
  std::string_view head;
  // Each from ":StartOfContact:" through ":EndOfContact:" (without the CR LF).
  std::vector<std::string_view> records;
  // Text from a record start that has no proper end (left unapplied).
  std::string_view truncated;
};

// Views into `text`, which must outlive the result. Never throws.
UpdateTextParts SplitUpdateText(std::string_view text);

// The CorrIDs of the head's deleted lines, in order: the 48 characters after
// each ":StartOfDeleted:" (a line with fewer is left out).
std::vector<std::string> DeletedCorrIds(std::string_view head);

}  // namespace plexisync
