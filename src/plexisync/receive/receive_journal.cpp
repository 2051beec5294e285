#include "plexisync/receive/receive_journal.hpp"

#include <charconv>
#include <string_view>

#include "platform/textfile.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/core/error_log.hpp"
#include "plexisync/core/errors.hpp"
#include "plexisync/receive/receive_mail.hpp"
#include "plexisync/storage/registry.hpp"
#include "plexisync/storage/settings.hpp"

namespace plexisync {

namespace {

int ToInt(const std::string& text, int fallback) {
  int value = fallback;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return fallback;
  return value;
}

// The three answers as one value: "deletion newer older".
std::string AnswersText(int d, int n, int o) {
  return std::to_string(d) + " " + std::to_string(n) + " " + std::to_string(o);
}

}  // namespace

std::string ReceiveJournal::ReceivingKeyPath() { return std::string(kProductKey) + kReceivingKey; }

std::string ReceiveJournal::InvitationsKeyPath() { return std::string(kProductKey) + kInvitationsKey; }

ReceiveJournal::ReceiveJournal(Context& ctx, std::string mailId)
    : ctx_(ctx), mailId_(std::move(mailId)), key_(ReceivingKeyPath() + "\\" + mailId_) {}

std::vector<std::string> ReceiveJournal::Unfinished(Context& ctx) {
  CRegistry& reg = ctx.reg();
  const std::string parent = ReceivingKeyPath();
  if (!reg.KeyExists(parent)) return {};
  return reg.GetAllSubKeys(parent);
}

bool ReceiveJournal::Exists() const { return ctx_.reg().KeyExists(key_); }

std::string ReceiveJournal::TextFile() const { return ctx_.InstallFile("receiving-" + mailId_ + ".pxs"); }

void ReceiveJournal::Create(const std::string& text, const std::string& folderId, const std::string& folderPath,
                            const CSender& sender) {
  // The text goes to a file of its own, forced to disk before the entry
  // names it: a value of megabytes in the key store would weigh on every
  // look-up of the keys beside it.
  platform::WriteTextFile(TextFile(), text);
  CRegistry& reg = ctx_.reg();
  reg.Transact([&] {
    // A leftover of an earlier attempt at the same mail is replaced whole.
    if (reg.KeyExists(key_)) reg.DeleteKey(key_);
    if (!reg.CreateKey(key_)) throw AddinError(kErrComponentFailure, "The receiving entry could not be made");
    Put({{"Length", std::to_string(text.size())},
         {"Folder", folderId},
         {"Path", folderPath},
         {"SenderName", sender.Name},
         {"SenderEmail", sender.Email},
         {"SenderEntryID", sender.entryID},
         {"SenderLastUpdate", sender.LastUpdate.ToText()},
         {"Stage", "0"},
         {"DeleteNext", "0"},
         {"RecordNext", "0"},
         {"AskedAt", "-1"},
         {"SavedID", ""},
         {"OldID", ""},
         {"Answers", AnswersText(0, 0, 0)},
         {"Failures", "0"},
         {"FailedAt", "-1"}});
  });
  resumed = false;
  stage = kNothingDone;
  deleteNext = recordNext = 0;
  askedAt = failedAt = -1;
  savedId.clear();
  oldId.clear();
  deleteAnswer = newerAnswer = olderAnswer = failures = 0;
}

bool ReceiveJournal::Load(std::string& text, std::string& folderId, std::string& folderPath, CSender& sender) {
  CRegistry& reg = ctx_.reg();
  if (!reg.KeyExists(key_)) return false;
  std::string values[16];
  const char* names[16] = {"Folder", "Path",       "SenderName", "SenderEmail", "SenderEntryID",
                           "SenderLastUpdate", "Stage", "DeleteNext", "RecordNext", "AskedAt",
                           "SavedID", "OldID",      "Answers",    "Failures",    "FailedAt", "Length"};
  for (const auto& [name, value] : reg.GetAllValueTexts(key_)) {
    for (int i = 0; i < 16; ++i) {
      if (name == names[i]) values[i] = value;
    }
  }
  // The kept text, whole: a file cut short or gone is no copy of the mail.
  if (!PassOver([&] { text = platform::ReadTextFile(TextFile()); })) return false;
  if (std::to_string(text.size()) != values[15]) return false;
  folderId = values[0];
  folderPath = values[1];
  sender.Name = values[2];
  sender.Email = values[3];
  sender.entryID = values[4];
  const auto last = platform::DateTime::TryParse(values[5]);
  if (!last || folderId.empty()) return false;
  sender.LastUpdate = *last;
  stage = ToInt(values[6], kNothingDone);
  deleteNext = ToInt(values[7], 0);
  recordNext = ToInt(values[8], 0);
  askedAt = ToInt(values[9], -1);
  savedId = values[10];
  oldId = values[11];
  const std::string& answers = values[12];
  const auto first = answers.find(' ');
  const auto second = first == std::string::npos ? std::string::npos : answers.find(' ', first + 1);
  if (second == std::string::npos) return false;
  deleteAnswer = ToInt(answers.substr(0, first), 0);
  newerAnswer = ToInt(answers.substr(first + 1, second - first - 1), 0);
  olderAnswer = ToInt(answers.substr(second + 1), 0);
  resumed = true;
  failures = ToInt(values[13], 0);
  failedAt = ToInt(values[14], -1);
  return stage >= kNothingDone && stage <= kContactsDone && deleteNext >= 0 && recordNext >= 0;
}

void ReceiveJournal::Put(const std::vector<std::pair<std::string, std::string>>& values) {
  if (!ctx_.reg().SetTextValues(key_, values)) {
    throw AddinError(kErrComponentFailure, "The progress of the update mail could not be kept");
  }
}

void ReceiveJournal::PutAnswers(std::vector<std::pair<std::string, std::string>> values) {
  values.emplace_back("Answers", AnswersText(deleteAnswer, newerAnswer, olderAnswer));
  Put(values);
}

void ReceiveJournal::Remove() {
  CRegistry& reg = ctx_.reg();
  if (reg.KeyExists(key_) && !reg.DeleteKey(key_)) {
    throw AddinError(kErrComponentFailure, "The finished update mail's entry could not be removed");
  }
}

void ReceiveJournal::RemoveTextFile() {
  PassOver([&] { platform::DeleteFile(TextFile()); });
}

bool ReceiveJournal::Failed(int position) {
  if (failedAt == position) {
    ++failures;
  } else {
    failedAt = position;
    failures = 1;
  }
  Put({{"Failures", std::to_string(failures)}, {"FailedAt", std::to_string(failedAt)}});
  return failures < kApplyAttempts;
}

}  // namespace plexisync
