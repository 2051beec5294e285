#include "plexisync/send/contact_record.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/object_model.hpp"
#include "host/transport/transport.hpp"
#include "platform/clock.hpp"
#include "platform/keystore.hpp"
#include "platform/text.hpp"
#include "platform/ui/user.hpp"
#include "plexisync/core/context.hpp"
#include "plexisync/storage/settings.hpp"
#include "support/manual_clock.hpp"
#include "support/scripted_user.hpp"

namespace plexisync {
namespace {

using platform::DateTime;

constexpr const char* kCrLf = "\r\n";

// The record's field lines in the order they are written, spelled out here
// independently of the add-in's own table.
constexpr std::array<const char*, 106> kOrder = {
    "Anniversary", "AssistantName", "AssistantTelephoneNumber", "BillingInformation", "Birthday",
    "Business2TelephoneNumber", "BusinessAddress", "BusinessAddressCity", "BusinessAddressCountry",
    "BusinessAddressPostalCode", "BusinessAddressPostOfficeBox", "BusinessAddressState", "BusinessAddressStreet",
    "BusinessFaxNumber", "BusinessHomePage", "BusinessTelephoneNumber", "CallbackTelephoneNumber",
    "CarTelephoneNumber", "Categories", "Children", "Companies", "CompanyMainTelephoneNumber", "CompanyName",
    "ComputerNetworkName", "CustomerID", "Department", "Email1Address", "Email1AddressType", "Email2Address",
    "Email2AddressType", "Email3Address", "Email3AddressType", "FileAs", "FirstName", "FTPSite", "FullName",
    "Gender", "GovernmentIDNumber", "Hobby", "Home2TelephoneNumber", "HomeAddress", "HomeAddressCity",
    "HomeAddressCountry", "HomeAddressPostalCode", "HomeAddressPostOfficeBox", "HomeAddressState",
    "HomeAddressStreet", "HomeFaxNumber", "HomeTelephoneNumber", "Importance", "Initials",
    "InternetFreeBusyAddress", "ISDNNumber", "JobTitle", "Journal", "Language", "LastName", "MailingAddress",
    "MailingAddressCity", "MailingAddressCountry", "MailingAddressPostalCode", "MailingAddressPostOfficeBox",
    "MailingAddressState", "MailingAddressStreet", "ManagerName", "MiddleName", "Mileage",
    "MobileTelephoneNumber", "NetMeetingAlias", "NetMeetingServer", "NickName", "NoAging", "OfficeLocation",
    "OrganizationalIDNumber", "OtherAddress", "OtherAddressCity", "OtherAddressCountry", "OtherAddressPostalCode",
    "OtherAddressPostOfficeBox", "OtherAddressState", "OtherAddressStreet", "OtherFaxNumber",
    "OtherTelephoneNumber", "PagerNumber", "PersonalHomePage", "PrimaryTelephoneNumber", "Profession",
    "RadioTelephoneNumber", "ReferredBy", "SelectedMailingAddress", "Sensitivity", "Spouse", "Subject", "Suffix",
    "TelexNumber", "Title", "TTYTDDTelephoneNumber", "User1", "User2", "User3", "User4", "UserCertificate",
    "WebPage", "YomiCompanyName", "YomiFirstName", "YomiLastName"};

// What a new contact shows for the fields that are not empty text.
std::string DefaultText(std::string_view property) {
  if (property == "Anniversary" || property == "Birthday") return "1/1/4501";
  if (property == "Importance") return "1";
  if (property == "Gender" || property == "SelectedMailingAddress" || property == "Sensitivity") return "0";
  if (property == "Journal" || property == "NoAging") return "False";
  return "";
}

// A full contact: every field filled, as the record writes it.
std::string FullText(std::string_view property) {
  if (property == "Anniversary") return "6/1/2001";
  if (property == "Birthday") return "3/4/1980 10:20:30 AM";
  if (property == "Gender") return "2";
  if (property == "Importance") return "2";
  if (property == "SelectedMailingAddress") return "1";
  if (property == "Sensitivity") return "3";
  if (property == "Journal" || property == "NoAging") return "True";
  if (property == "AssistantTelephoneNumber") return "  555 0100  ";
  if (property == "FirstName") return "  Bob  ";
  if (property == "BusinessAddress") return "1 Main Street\r\nSuite 2\r\nSpringfield";
  if (property == "BusinessAddressStreet") return "1 Main Street\r\nSuite 2";
  if (property == "Email1Address") return "bob@example.org";
  return std::string(property) + " value";
}

constexpr const char* kCorrId = "00000000A1B2C3D4E5F60718293A4B5C6D7E8F9001020304";
constexpr const char* kFullBody = "  First line\r\n\r\n  Second line  \r\nThird  ";
constexpr const char* kFullBodyWritten = "First line\r\n\r\n  Second line  \r\nThird";

// The record of a contact whose field values are given by `valueOf`.
template <class F>
std::string ExpectedRecord(const std::string& lastModified, F valueOf, const std::optional<std::string>& body) {
  std::string r = std::string(":StartOfContact:") + kCorrId + kCrLf;
  r += "LastModified: " + lastModified + kCrLf;
  for (const char* p : kOrder) r += std::string("Contact") + p + ":" + valueOf(p) + kCrLf;
  if (body) r += "ContactBody:" + *body + kCrLf;
  r += std::string(":EndOfContact:") + kCrLf;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(kCrLf, from)) != std::string::npos; from = at + 2) {
    out.push_back(text.substr(from, at - from));
  }
  if (from < text.size()) out.push_back(text.substr(from));
  return out;
}

// ---------------------------------------------------------------------------
// The reading rules, without any contact item.

std::optional<RecordValue> Assigned(const std::vector<FieldAssignment>& list, std::string_view property) {
  std::optional<RecordValue> found;
  for (const auto& a : list) {
    if (property == a.field->property) found = a.value;
  }
  return found;
}

std::string Line(std::string_view property, std::string_view value) {
  return "Contact" + std::string(property) + ":" + std::string(value) + kCrLf;
}

TEST(ParseContactRecord, ReadBackRulesPerValueKind) {
  struct Case {
    const char* property;
    const char* raw;
    std::optional<RecordValue> expected;  // nullopt: left unchanged
  };
  const Case cases[] = {
      // trimmed: blanks only
      {"FirstName", "  Bob  ", std::string("Bob")},
      {"FirstName", "", std::string()},
      {"FirstName", "   ", std::string()},
      {"FirstName", "\tBob\t", std::string("\tBob\t")},
      {"Email1Address", " bob@example.org ", std::string("bob@example.org")},
      // as is
      {"AssistantTelephoneNumber", "  555 0100  ", std::string("  555 0100  ")},
      {"AssistantTelephoneNumber", "", std::string()},
      // dates
      {"Anniversary", " 6/1/2001 ", DateTime::FromParts(2001, 6, 1)},
      {"Anniversary", "1/1/4501", DateTime::NoDate()},
      {"Anniversary", "not a date", std::nullopt},
      {"Anniversary", "", std::nullopt},
      {"Birthday", "3/4/1980 10:20:30 AM", DateTime::FromParts(1980, 3, 4, 10, 20, 30)},
      {"Birthday", "1/1/4501", DateTime::NoDate()},
      {"Birthday", "2/30/1980", std::nullopt},
      // numbers: 16-bit integers
      {"Gender", "2", std::int16_t{2}},
      {"Importance", " 1 ", std::int16_t{1}},
      {"Sensitivity", "-3", std::int16_t{-3}},
      {"Sensitivity", "32767", std::int16_t{32767}},
      {"Gender", "-32768", std::int16_t{-32768}},
      {"Gender", "32768", std::nullopt},
      {"Gender", "two", std::nullopt},
      {"Gender", "", std::nullopt},
      // true only for exactly "True"
      {"Journal", "True", true},
      {"Journal", "False", false},
      {"Journal", "true", false},
      {"Journal", " True", false},
      {"Journal", "", false},
      // false only for exactly "False"
      {"NoAging", "False", false},
      {"NoAging", "True", true},
      {"NoAging", "false", true},
      {"NoAging", "False ", true},
      {"NoAging", "", true},
  };
  for (const auto& c : cases) {
    const auto got = Assigned(ParseContactRecord(Line(c.property, c.raw), ""), c.property);
    EXPECT_EQ(got, c.expected) << c.property << ":'" << c.raw << "'";
  }
}

TEST(ParseContactRecord, FieldsWrittenButNotApplied) {
  const std::string record = Line("RadioTelephoneNumber", "555 0199") + Line("UserCertificate", "CERT") +
                             Line("FirstName", "Bob");
  const auto list = ParseContactRecord(record, "");
  EXPECT_FALSE(Assigned(list, "RadioTelephoneNumber"));
  EXPECT_FALSE(Assigned(list, "UserCertificate"));
  EXPECT_EQ(Assigned(list, "FirstName"), RecordValue(std::string("Bob")));
}

TEST(ParseContactRecord, MissingTagsKeepValuesAndTheWalkOnlyGoesForward) {
  // Children comes before Companies in the table: finding Children on the
  // second line moves the search past the Companies line, which is lost.
  const std::string record = Line("Companies", "Acme") + Line("Children", "Ann") + Line("Spouse", "Eve");
  const auto list = ParseContactRecord(record, "kept");
  EXPECT_EQ(Assigned(list, "Children"), RecordValue(std::string("Ann")));
  EXPECT_FALSE(Assigned(list, "Companies"));
  EXPECT_EQ(Assigned(list, "Spouse"), RecordValue(std::string("Eve")));
  // Fields whose tags are absent yield nothing; only those three and the body.
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(Assigned(list, "Body"), RecordValue(std::string("kept")));
}

TEST(ParseContactRecord, TagInsideAnEarlierValueIsTakenFromThere) {
  const std::string record = Line("Children", "Ann Companies: Acme Corp ") + Line("Companies", "Real Co") +
                             Line("CompanyMainTelephoneNumber", "555");
  const auto list = ParseContactRecord(record, "");
  EXPECT_EQ(Assigned(list, "Children"), RecordValue(std::string("Ann Companies: Acme Corp")));
  EXPECT_EQ(Assigned(list, "Companies"), RecordValue(std::string("Acme Corp")));
  EXPECT_EQ(Assigned(list, "CompanyMainTelephoneNumber"), RecordValue(std::string("555")));

  // "MailingAddress:" ends the tag of SelectedMailingAddress: without a line
  // of its own, MailingAddress is taken from there, and the walk has passed
  // the number's tag.
  const auto alone = ParseContactRecord(Line("SelectedMailingAddress", "2"), "");
  EXPECT_EQ(Assigned(alone, "MailingAddress"), RecordValue(std::string("2")));
  EXPECT_FALSE(Assigned(alone, "SelectedMailingAddress"));
}

TEST(ParseContactRecord, MultiLineAddressGivesItsFirstLineAndPartsFromTheirOwnLines) {
  const std::string record = Line("BusinessAddress", "1 Main Street\r\nSuite 2\r\nSpringfield") +
                             Line("BusinessAddressCity", "Springfield") +
                             Line("BusinessAddressStreet", "1 Main Street\r\nSuite 2");
  const auto list = ParseContactRecord(record, "");
  EXPECT_EQ(Assigned(list, "BusinessAddress"), RecordValue(std::string("1 Main Street")));
  EXPECT_EQ(Assigned(list, "BusinessAddressCity"), RecordValue(std::string("Springfield")));
  EXPECT_EQ(Assigned(list, "BusinessAddressStreet"), RecordValue(std::string("1 Main Street")));
}

TEST(ParseContactRecord, LineWithoutItsEndGivesNoValue) {
  const auto list = ParseContactRecord(Line("FirstName", "Bob") + "ContactLastName:Brown", "");
  EXPECT_EQ(Assigned(list, "FirstName"), RecordValue(std::string("Bob")));
  EXPECT_FALSE(Assigned(list, "LastName"));
}

TEST(ParseContactRecord, BodyBlock) {
  struct Case {
    std::string tail;
    std::optional<std::string> body;  // nullopt: the body is left as it is
  };
  const Case cases[] = {
      {":EndOfContact:\r\n", std::string("kept")},  // no body block
      {"", std::string("kept")},
      {"ContactBody:  Line one\r\n\r\n  Line two  \r\n:EndOfContact:\r\n", std::string("Line one\r\n\r\n  Line two")},
      {"ContactBody:\r\n:EndOfContact:", std::string()},
      {"ContactBody:   \r\n:EndOfContact:", std::string()},
      {"ContactBody:a\r\n\r\n:EndOfContact:", std::string("a\r\n")},  // only the one line break goes
      {"ContactBody:a\r\n:EndOfContact:\r\nb\r\n:EndOfContact:\r\n", std::string("a")},
      {"ContactBody:abc:EndOfContact:", std::nullopt},  // no line break before the end marker
      {"ContactBody:abc\r\n", std::nullopt},            // no end marker
      {"ContactBody::EndOfContact:", std::nullopt},
      {"ContactBody:\r:EndOfContact:", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto list = ParseContactRecord(Line("FirstName", "Bob") + c.tail, "kept");
    const auto got = Assigned(list, "Body");
    if (c.body) {
      EXPECT_EQ(got, RecordValue(*c.body)) << c.tail;
      EXPECT_EQ(list.back().field->property, std::string("Body"));
    } else {
      EXPECT_FALSE(got) << c.tail;
    }
  }
}

TEST(ParseContactRecord, ValuesLongerThan32767CharactersAreReadWhole) {
  const std::string longName(40000, 'n');
  const std::string longBody = std::string(70000, 'b') + "\r\n" + std::string(5, 'c');
  const std::string record = "LastModified: 1/1/2000\r\n" + Line("Children", std::string(50000, 'x')) +
                             Line("FirstName", longName) + Line("LastName", "Brown") + "ContactBody:" + longBody +
                             "\r\n:EndOfContact:\r\n";
  const auto list = ParseContactRecord(record, "");
  EXPECT_EQ(Assigned(list, "FirstName"), RecordValue(longName));
  EXPECT_EQ(Assigned(list, "LastName"), RecordValue(std::string("Brown")));
  EXPECT_EQ(Assigned(list, "Body"), RecordValue(longBody));
}

TEST(ParseContactRecord, WholeRecordReadsLikeTheRecordFromItsTimeLine) {
  std::string full = ExpectedRecord("6/15/2026 9:00:00 AM", FullText, std::string(kFullBodyWritten));
  const auto fromStart = ParseContactRecord(full, "kept");
  const auto fromTimeLine = ParseContactRecord(full.substr(66), "kept");
  ASSERT_EQ(fromStart.size(), fromTimeLine.size());
  for (std::size_t i = 0; i < fromStart.size(); ++i) {
    EXPECT_EQ(fromStart[i].field, fromTimeLine[i].field);
    EXPECT_EQ(fromStart[i].value, fromTimeLine[i].value);
  }
  // Every field but the two that travel without being applied, then the body.
  ASSERT_EQ(fromStart.size(), 105u);
  std::set<std::string> properties;
  for (const auto& a : fromStart) properties.insert(a.field->property);
  EXPECT_EQ(properties.size(), 105u);
  EXPECT_EQ(properties.count("RadioTelephoneNumber"), 0u);
  EXPECT_EQ(properties.count("UserCertificate"), 0u);
}

TEST(ParseContactRecord, HostileTextNeverThrows) {
  const std::string inputs[] = {
      "",
      "\r\n",
      "\r",
      "Anniversary:",
      "ContactBody:",
      ":EndOfContact:",
      "ContactBody:\n:EndOfContact:",
      std::string("ContactFirstName:\0Bob\r\n", 23),
      "Gender:99999999999999999999999\r\nJournal:True",
      "ContactBody:ContactBody:\r\n:EndOfContact:",
  };
  for (const auto& in : inputs) {
    EXPECT_NO_THROW(ParseContactRecord(in, "kept")) << in;
  }
}

// ---------------------------------------------------------------------------
// With a contact item: a host application and an add-in context.

class NullTransport final : public host::Transport {
 public:
  void Send(const host::MailMessage&, const std::vector<std::string>&) override {}
  std::unique_ptr<host::FetchedMail> Fetch(const std::string&) override {
    return std::make_unique<host::NoMail>();
  }
};

// A temporary profile, a stopped clock at 6/15/2026 9:00:00 AM, a scripted
// person, the application and the add-in's context with its registry.
struct HostSetup {
  struct TempDir {
    std::filesystem::path path;
    TempDir() {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      path = std::filesystem::temp_directory_path() /
             ("plexisync-record-" + std::to_string(::getpid()) + "-" + info->name());
      std::filesystem::remove_all(path);
      std::filesystem::create_directories(path);
    }
    ~TempDir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };

  explicit HostSetup(int biasMinutes = 0)
      : zone(biasMinutes),
        profile(host::Profile::Create(dir.path / "alice", "Alice Adams", "alice@example.org", dir.path / "po")),
        keys(profile.OpenKeyStore()),
        app(profile, host::HostServices{clock, user, transport, *keys, zone}),
        ctx(AddinServices{user, clock, zone,
                          [this](std::int32_t root) -> platform::KeyStore* {
                            return root == HKEY_CURRENT_USER ? keys.get() : nullptr;
                          }}) {
    ctx.App = &app;
    ctx.InstDir = profile.InstallDirText();
    RegInit(ctx);
  }

  std::shared_ptr<host::ContactItem> NewContact() {
    auto item = app.Session()->GetDefaultFolder(host::kFolderContacts)->Items()->Add(host::kContactItem);
    return std::dynamic_pointer_cast<host::ContactItem>(item);
  }
  // A saved contact with every field filled (FullText) and the full body.
  std::shared_ptr<host::ContactItem> FullContact() {
    auto c = NewContact();
    for (const char* p : kOrder) c->SetText(p, FullText(p));
    c->SetBody(kFullBody);
    c->Save();
    return c;
  }
  // Reads a property as the person would, without the security prompt.
  std::string Read(const std::shared_ptr<host::ContactItem>& c, std::string_view property) {
    host::PersonScope person(app);
    return c->Text(property);
  }

  TempDir dir;
  platform::ManualClock clock;
  platform::FixedTimeZone zone;
  platform::ScriptedUser user;
  NullTransport transport;
  host::Profile profile;
  std::unique_ptr<platform::KeyStore> keys;
  host::Application app;
  Context ctx;
};


TEST(ContactToText, EmptyContactByteForByte) {
  HostSetup h;
  auto c = h.NewContact();
  c->Save();
  const std::string text = ContactToText(h.ctx, c, std::string("  ") + kCorrId + " ", false);
  EXPECT_EQ(text, ExpectedRecord("6/15/2026 9:00:00 AM", DefaultText, std::string()));
  EXPECT_TRUE(h.user.AllExpectationsMet()) << h.user.Problems();
}

TEST(ContactToText, FullContactByteForByteWithAndWithoutBody) {
  HostSetup h;
  auto c = h.FullContact();
  for (bool dontSendBody : {false, true}) {
    const std::string text = ContactToText(h.ctx, c, kCorrId, dontSendBody);
    const auto body = dontSendBody ? std::nullopt : std::optional<std::string>(kFullBodyWritten);
    EXPECT_EQ(text, ExpectedRecord("6/15/2026 9:00:00 AM", FullText, body)) << dontSendBody;
    EXPECT_EQ(text.find("ContactBody:") == std::string::npos, dontSendBody);
  }
  EXPECT_TRUE(h.user.AllExpectationsMet()) << h.user.Problems();
}

TEST(ContactToText, TimeLineIsInGmt) {
  HostSetup h(-120);  // two hours east of GMT
  auto c = h.NewContact();
  c->Save();
  const auto lines = Lines(ContactToText(h.ctx, c, kCorrId, false));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "LastModified: 6/15/2026 7:00:00 AM");
}

// The lines of `text` that the full record has and `text` has not.
std::vector<std::string> MissingLines(const std::string& text) {
  const auto full = Lines(ExpectedRecord("6/15/2026 9:00:00 AM", FullText, std::string(kFullBodyWritten)));
  const auto got = Lines(text);
  std::vector<std::string> missing;
  std::size_t j = 0;
  for (const auto& line : full) {
    if (j < got.size() && got[j] == line) {
      ++j;
    } else {
      missing.push_back(line);
    }
  }
  EXPECT_EQ(j, got.size()) << "unexpected lines in:\n" << text;
  return missing;
}

std::vector<std::string> FieldLines(std::initializer_list<const char*> properties) {
  std::vector<std::string> out;
  for (const char* p : properties) out.push_back(std::string("Contact") + p + ":" + FullText(p));
  return out;
}

TEST(ContactToText, UnreadablePropertiesLeaveTheirLinesOut) {
  HostSetup h;
  auto c = h.FullContact();

  // No safe-item library: the eight safe-item lines are left out; the rest,
  // NetMeetingServer included, is read from the contact without a prompt.
  h.app.Faults().FailEvery("CreateObject:Redemption.SafeContactItem");
  EXPECT_EQ(MissingLines(ContactToText(h.ctx, c, kCorrId, false)),
            FieldLines({"Email1Address", "Email1AddressType", "Email2Address", "Email2AddressType", "Email3Address",
                        "Email3AddressType", "NetMeetingAlias", "ReferredBy"}));
  h.app.Faults().Clear();

  // One failed read (the second property read is AssistantName); then the body.
  h.app.Faults().FailNth("ContactItem.GetProperty", 2);
  EXPECT_EQ(MissingLines(ContactToText(h.ctx, c, kCorrId, false)), FieldLines({"AssistantName"}));
  // Direct reads: the 98 fields not read through the safe item, then the body.
  h.app.Faults().FailNth("ContactItem.GetProperty", 99);
  EXPECT_EQ(MissingLines(ContactToText(h.ctx, c, kCorrId, false)),
            Lines(std::string("ContactBody:") + kFullBodyWritten));

  // No modification time: the time line is left out.
  h.app.Faults().FailNth("ContactItem.LastModificationTime", 1);
  EXPECT_EQ(MissingLines(ContactToText(h.ctx, c, kCorrId, false)),
            std::vector<std::string>{"LastModified: 6/15/2026 9:00:00 AM"});
  EXPECT_TRUE(h.user.AllExpectationsMet()) << h.user.Problems();
}

TEST(ContactToText, NoContactGivesTheFrameOnly) {
  HostSetup h;
  EXPECT_EQ(ContactToText(h.ctx, nullptr, "ID", true), ":StartOfContact:ID\r\n:EndOfContact:\r\n");
  EXPECT_TRUE(h.user.Verify().empty()) << h.user.Problems();
}

TEST(TextToContact, FullRecordReadsBackByTheFieldRules) {
  HostSetup h;
  const std::string record = ExpectedRecord("6/15/2026 9:00:00 AM", FullText, std::string(kFullBodyWritten));
  auto c = h.NewContact();
  c->SetText("RadioTelephoneNumber", "local radio");
  c->SetText("UserCertificate", "local cert");
  TextToContact(h.ctx, record.substr(66), c, "kept body");

  for (const char* p : kOrder) {
    std::string expected = platform::Trim(FullText(p));
    const std::string_view prop = p;
    if (prop == "AssistantTelephoneNumber") expected = FullText(p);  // as is
    if (prop == "BusinessAddress") expected = "1 Main Street";       // first line only
    if (prop == "BusinessAddressStreet") expected = "1 Main Street";
    if (prop == "RadioTelephoneNumber") expected = "local radio";  // written, not applied
    if (prop == "UserCertificate") expected = "local cert";
    EXPECT_EQ(h.Read(c, p), expected) << p;
  }
  EXPECT_EQ(h.Read(c, "Body"), kFullBodyWritten);
  EXPECT_TRUE(h.user.Verify().empty()) << h.user.Problems();
}

TEST(TextToContact, RecordWithoutBodyKeepsTheKeptBodyAndMissingFieldsKeepTheirValues) {
  HostSetup h;
  auto c = h.NewContact();
  c->SetText("LastName", "Local");
  c->SetText("Gender", "1");
  c->SetBody("old body");
  const std::string record = "LastModified: 1/1/2020\r\n" + Line("FirstName", " Bob ") + Line("Gender", "x") +
                             ":EndOfContact:\r\n";
  TextToContact(h.ctx, record, c, "local notes");
  EXPECT_EQ(h.Read(c, "FirstName"), "Bob");
  EXPECT_EQ(h.Read(c, "LastName"), "Local");  // no line
  EXPECT_EQ(h.Read(c, "Gender"), "1");        // does not parse
  EXPECT_EQ(h.Read(c, "Body"), "local notes");
}

TEST(TextToContact, FailedSetLeavesThatPropertyAndGoesOn) {
  HostSetup h;
  auto c = h.NewContact();
  const std::string record = Line("Anniversary", "6/1/2001") + Line("FirstName", "Bob") + Line("Journal", "True");
  h.app.Faults().FailNth("ContactItem.SetProperty", 1);
  TextToContact(h.ctx, record, c, "kept");
  EXPECT_EQ(h.Read(c, "Anniversary"), "1/1/4501");
  EXPECT_EQ(h.Read(c, "FirstName"), "Bob");
  EXPECT_EQ(h.Read(c, "Journal"), "True");
  EXPECT_EQ(h.Read(c, "Body"), "kept");
  EXPECT_NO_THROW(TextToContact(h.ctx, record, nullptr, "kept"));
}

// Properties CopyContact leaves alone, and those it reads through the safe item.
const std::set<std::string> kNotCopied = {"BusinessAddressPostOfficeBox", "BusinessTelephoneNumber",
                                          "CompanyMainTelephoneNumber",   "User3",
                                          "User4",                        "UserCertificate"};
const std::set<std::string> kCopiedThroughSafeItem = {"Email1Address",     "Email1AddressType", "Email2Address",
                                                      "Email2AddressType", "Email3Address",     "Email3AddressType",
                                                      "NetMeetingAlias",   "NetMeetingServer",  "ReferredBy"};

TEST(CopyContact, CopiesTheMarkedPropertiesAndTheBody) {
  HostSetup h;
  auto source = h.FullContact();
  auto target = h.NewContact();
  for (const auto& p : kNotCopied) target->SetText(p, "target's own");
  CopyContact(h.ctx, target, source);
  for (const char* p : kOrder) {
    EXPECT_EQ(h.Read(target, p), kNotCopied.count(p) ? "target's own" : FullText(p)) << p;
  }
  EXPECT_EQ(h.Read(target, "Body"), kFullBody);  // copied as it is
  EXPECT_FALSE(target->Saved());
  EXPECT_TRUE(h.user.Verify().empty()) << h.user.Problems();  // never asked
}

TEST(CopyContact, WithoutTheSafeItemTheProtectedFieldsAreNotCopied) {
  HostSetup h;
  auto source = h.FullContact();
  auto target = h.NewContact();
  h.app.Faults().FailEvery("CreateObject:Redemption.SafeContactItem");
  CopyContact(h.ctx, target, source);
  for (const char* p : kOrder) {
    const bool copied = !kNotCopied.count(p) && !kCopiedThroughSafeItem.count(p);
    EXPECT_EQ(h.Read(target, p), copied ? FullText(p) : DefaultText(p)) << p;
  }
  EXPECT_TRUE(h.user.Verify().empty()) << h.user.Problems();
  EXPECT_NO_THROW(CopyContact(h.ctx, nullptr, source));
  EXPECT_NO_THROW(CopyContact(h.ctx, target, nullptr));
}

}  // namespace
}  // namespace plexisync
