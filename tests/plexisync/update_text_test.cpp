// Taking an update mail's text apart: texts in the layout read as the plain
// searches read them; marker texts inside contact values neither cut records
// short nor count as deletions; a record without its end is not applied.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plexisync/receive/update_text.hpp"

namespace plexisync {
namespace {

const std::string kId1(48, 'A');
const std::string kId2(48, 'B');
const std::string kId3(48, 'C');

std::string Record(const std::string& id, const std::string& body = "") {
  return ":StartOfContact:" + id + "\r\nFullName:" + "Ann" + "\r\nContactBody:" + body + "\r\n:EndOfContact:\r\n";
}
std::string WithoutLineEnd(const std::string& record) { return record.substr(0, record.size() - 2); }

const std::string kHead =
    "Personal Folders$/$Contacts$/$Team$/$:EndOfPath:\r\n:StartOfRecipients:\r\n"
    ":StartOfRec:a@example.org:MidOfRec:Ann:EndOfRec:\r\n:EndOfRecipients:\r\n"
    ":StartOfDeleted:" + kId3 + "\r\n";

struct Case {
  const char* what;
  std::string text;
  std::string head;
  std::vector<std::string> records;
  std::string truncated;
  std::vector<std::string> deleted;
};

TEST(UpdateTextTest, SplitsTextsIntoHeadRecordsAndTruncatedRest) {
  const std::string inBody1 = Record(kId1, "see :EndOfContact:\r\n for details");
  const std::string inBody2 = Record(kId1, "copied:\r\n:StartOfDeleted:" + kId2 + "\r\n:StartOfRecipients:\r\n");
  const std::string endThenText = Record(kId1, "x\r\n:EndOfContact:\r\nnot a record");
  const Case cases[] = {
      {"only a head", kHead, kHead, {}, "", {kId3}},
      {"an empty text", "", "", {}, "", {}},
      {"a head and two records", kHead + Record(kId1) + Record(kId2), kHead,
       {WithoutLineEnd(Record(kId1)), WithoutLineEnd(Record(kId2))}, "", {kId3}},
      {"an import mail", kHead + ":IMPORTTOTHISFOLDER:", kHead + ":IMPORTTOTHISFOLDER:", {}, "", {kId3}},
      {"an import marker after the last record", kHead + Record(kId1) + ":IMPORTTOTHISFOLDER:", kHead,
       {WithoutLineEnd(Record(kId1))}, "", {kId3}},
      {"an end marker inside a value", kHead + inBody1 + Record(kId2), kHead,
       {WithoutLineEnd(inBody1), WithoutLineEnd(Record(kId2))}, "", {kId3}},
      {"an end marker and more text inside the last value", kHead + endThenText, kHead, {WithoutLineEnd(endThenText)},
       "", {kId3}},
      {"a deleted line and a recipients block inside a value", kHead + inBody2, kHead, {WithoutLineEnd(inBody2)}, "",
       {kId3}},
      {"a truncated last record", kHead + Record(kId1) + Record(kId2).substr(0, 40), kHead,
       {WithoutLineEnd(Record(kId1))}, Record(kId2).substr(0, 40), {kId3}},
      {"a record without its final line end", kHead + WithoutLineEnd(Record(kId1)), kHead, {},
       WithoutLineEnd(Record(kId1)), {kId3}},
      {"text after the last record's end", kHead + Record(kId1) + "garbage", kHead, {}, Record(kId1) + "garbage",
       {kId3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const UpdateTextParts parts = SplitUpdateText(c.text);
    EXPECT_EQ(parts.head, c.head);
    EXPECT_EQ(std::vector<std::string>(parts.records.begin(), parts.records.end()), c.records);
    EXPECT_EQ(parts.truncated, c.truncated);
    EXPECT_EQ(DeletedCorrIds(parts.head), c.deleted);
  }
}

TEST(UpdateTextTest, DeletedLinesGiveTheir48CharacterIds) {
  const struct {
    const char* what;
    std::string head;
    std::vector<std::string> ids;
  } cases[] = {
      {"three lines in order", ":StartOfDeleted:" + kId1 + "\r\n:StartOfDeleted:" + kId2 + "\r\n:StartOfDeleted:" +
                                   kId3 + "\r\n",
       {kId1, kId2, kId3}},
      {"the last line without its line end", ":StartOfDeleted:" + kId1, {kId1}},
      {"a short line is left out", ":StartOfDeleted:short\r\n:StartOfDeleted:" + kId2 + "\r\n", {kId2}},
      {"a short line at the end", ":StartOfDeleted:" + kId1 + "\r\n:StartOfDeleted:" + kId2.substr(0, 47), {kId1}},
      {"a longer line gives its first 48", ":StartOfDeleted:" + kId1 + "XYZ\r\n", {kId1}},
      {"no deleted lines", "Folder$/$:EndOfPath:\r\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DeletedCorrIds(c.head), c.ids);
  }
}

}  // namespace
}  // namespace plexisync
