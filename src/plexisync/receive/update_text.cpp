#include "plexisync/receive/update_text.hpp"

#include "plexisync/send/contact_record.hpp"
#include "plexisync/send/update_mail.hpp"

namespace plexisync {

namespace {

constexpr std::string_view kRecordEnd = ":EndOfContact:\r\n";

}  // namespace

UpdateTextParts SplitUpdateText(std::string_view text) {
  const std::string_view start(kStartOfContact);
  const std::string_view endMarker(kEndOfContact);
  const std::string_view import(kImportMarker);

  UpdateTextParts parts;
  std::size_t pos = text.find(start);
  parts.head = text.substr(0, pos == std::string_view::npos ? text.size() : pos);
  while (pos != std::string_view::npos && pos < text.size()) {
    // The record's end is the first end marker whose line is followed by
    // another record, by the end of the text, or by an import marker that
    // closes the text; any other end marker is part of a value.
    std::size_t search = pos + start.size();
    std::size_t next = std::string_view::npos;
    bool closed = false;
    while (true) {
      const std::size_t end = text.find(kRecordEnd, search);
      if (end == std::string_view::npos) break;
      const std::size_t after = end + kRecordEnd.size();
      const std::string_view rest = text.substr(after);
      if (rest.empty() || rest == import || rest.substr(0, start.size()) == start) {
        parts.records.push_back(text.substr(pos, end + endMarker.size() - pos));
        closed = true;
        next = (rest.empty() || rest == import) ? std::string_view::npos : after;
        break;
      }
      search = end + 1;
    }
    if (!closed) {
      parts.truncated = text.substr(pos);
      break;
    }
    pos = next;
  }
  return parts;
}

std::vector<std::string> DeletedCorrIds(std::string_view head) {
  const std::string_view marker(kStartOfDeleted);
  std::vector<std::string> ids;
  for (std::size_t at = head.find(marker); at != std::string_view::npos; at = head.find(marker, at + 1)) {
    const std::size_t from = at + marker.size();
    if (head.size() - from < kCorrIdLength) continue;
    const std::string_view id = head.substr(from, kCorrIdLength);
    // A line that ends before 48 characters holds no CorrID: its line end
    // and the next line are not part of one.
    if (id.find_first_of("\r\n") != std::string_view::npos) continue;
    ids.emplace_back(id);
  }
  return ids;
}

}  // namespace plexisync
