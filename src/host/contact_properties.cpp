#include "host/contact_properties.hpp"

#include "platform/text.hpp"

namespace host {
namespace {

PropertyDef Text(const char* name, bool guarded = false) {
  return PropertyDef{name, PropType::kText, std::string(), guarded, false, false};
}
PropertyDef Date(const char* name) {
  return PropertyDef{name, PropType::kDate, platform::DateTime::NoDate(), false, false, false};
}
PropertyDef Number(const char* name, std::int32_t def) {
  return PropertyDef{name, PropType::kNumber, def, false, false, false};
}
PropertyDef Flag(const char* name, bool def) {
  return PropertyDef{name, PropType::kFlag, def, false, false, false};
}

// Properties every item has, kept by the item itself.
void AddItemLevel(std::vector<PropertyDef>& defs, const char* messageClass) {
  defs.push_back(PropertyDef{"EntryID", PropType::kText, std::string(), false, true, true});
  defs.push_back(PropertyDef{"MessageClass", PropType::kText, std::string(messageClass), false, false, true});
  defs.push_back(PropertyDef{"CreationTime", PropType::kDate, platform::DateTime::NoDate(), false, true, true});
  defs.push_back(
      PropertyDef{"LastModificationTime", PropType::kDate, platform::DateTime::NoDate(), false, true, true});
  defs.push_back(PropertyDef{"UnRead", PropType::kFlag, false, false, false, true});
}

std::vector<PropertyDef> ContactDefs() {
  std::vector<PropertyDef> d;
  d.push_back(Date("Anniversary"));
  for (const char* n : {"AssistantName", "AssistantTelephoneNumber", "BillingInformation"}) d.push_back(Text(n));
  d.push_back(Date("Birthday"));
  for (const char* n :
       {"Business2TelephoneNumber", "BusinessAddress", "BusinessAddressCity", "BusinessAddressCountry",
        "BusinessAddressPostalCode", "BusinessAddressPostOfficeBox", "BusinessAddressState",
        "BusinessAddressStreet", "BusinessFaxNumber", "BusinessHomePage", "BusinessTelephoneNumber",
        "CallbackTelephoneNumber", "CarTelephoneNumber", "Categories", "Children", "Companies",
        "CompanyMainTelephoneNumber", "CompanyName", "ComputerNetworkName", "CustomerID", "Department"}) {
    d.push_back(Text(n));
  }
  for (const char* n : {"Email1Address", "Email1AddressType", "Email2Address", "Email2AddressType",
                        "Email3Address", "Email3AddressType"}) {
    d.push_back(Text(n, true));
  }
  for (const char* n : {"FileAs", "FirstName", "FTPSite", "FullName"}) d.push_back(Text(n));
  d.push_back(Number("Gender", 0));
  for (const char* n :
       {"GovernmentIDNumber", "Hobby", "Home2TelephoneNumber", "HomeAddress", "HomeAddressCity",
        "HomeAddressCountry", "HomeAddressPostalCode", "HomeAddressPostOfficeBox", "HomeAddressState",
        "HomeAddressStreet", "HomeFaxNumber", "HomeTelephoneNumber"}) {
    d.push_back(Text(n));
  }
  d.push_back(Number("Importance", 1));
  for (const char* n : {"Initials", "InternetFreeBusyAddress", "ISDNNumber", "JobTitle"}) d.push_back(Text(n));
  d.push_back(Flag("Journal", false));
  for (const char* n :
       {"Language", "LastName", "MailingAddress", "MailingAddressCity", "MailingAddressCountry",
        "MailingAddressPostalCode", "MailingAddressPostOfficeBox", "MailingAddressState",
        "MailingAddressStreet", "ManagerName", "MiddleName", "Mileage", "MobileTelephoneNumber"}) {
    d.push_back(Text(n));
  }
  d.push_back(Text("NetMeetingAlias", true));
  d.push_back(Text("NetMeetingServer"));
  d.push_back(Text("NickName"));
  d.push_back(Flag("NoAging", false));
  for (const char* n :
       {"OfficeLocation", "OrganizationalIDNumber", "OtherAddress", "OtherAddressCity", "OtherAddressCountry",
        "OtherAddressPostalCode", "OtherAddressPostOfficeBox", "OtherAddressState", "OtherAddressStreet",
        "OtherFaxNumber", "OtherTelephoneNumber", "PagerNumber", "PersonalHomePage", "PrimaryTelephoneNumber",
        "Profession", "RadioTelephoneNumber"}) {
    d.push_back(Text(n));
  }
  d.push_back(Text("ReferredBy", true));
  d.push_back(Number("SelectedMailingAddress", 0));
  d.push_back(Number("Sensitivity", 0));
  for (const char* n :
       {"Spouse", "Subject", "Suffix", "TelexNumber", "Title", "TTYTDDTelephoneNumber", "User1", "User2",
        "User3", "User4", "UserCertificate", "WebPage", "YomiCompanyName", "YomiFirstName", "YomiLastName"}) {
    d.push_back(Text(n));
  }
  d.push_back(Text("Body"));
  AddItemLevel(d, kContactClass);
  return d;
}

std::vector<PropertyDef> MailDefs() {
  std::vector<PropertyDef> d;
  for (const char* n : {"Subject", "To", "CC", "BCC", "Body", "Categories", "SenderName"}) d.push_back(Text(n));
  d.push_back(Text("SenderEmailAddress", true));
  d.push_back(Number("Importance", 1));
  d.push_back(Number("Sensitivity", 0));
  d.push_back(Date("ReceivedTime"));
  d.push_back(Date("SentOn"));
  AddItemLevel(d, kMailClass);
  return d;
}

}  // namespace

PropertySchema::PropertySchema(std::string itemKind, std::vector<PropertyDef> defs)
    : kind_(std::move(itemKind)), defs_(std::move(defs)) {
  for (std::size_t i = 0; i < defs_.size(); ++i) index_.emplace(platform::FoldCase(defs_[i].name), i);
  // A seed under which every name has a slot of its own; with a hundred or
  // so names in 4096 slots one of the first few seeds does. Should none,
  // the names simply go through the map.
  if (defs_.size() >= 0xFFFF) return;
  for (std::uint64_t seed = 1; seed <= 1000; ++seed) {
    seed_ = seed;
    exact_.fill(0);
    bool clash = false;
    for (std::size_t i = 0; i < defs_.size() && !clash; ++i) {
      std::uint16_t& slot = exact_[SlotOf(defs_[i].name)];
      clash = slot != 0;
      slot = static_cast<std::uint16_t>(i + 1);
    }
    if (!clash) return;
  }
  exact_.fill(0);
}

std::size_t PropertySchema::SlotOf(std::string_view name) const noexcept {
  // FNV-1a over the bytes as they are, started from the seed.
  std::uint64_t h = 14695981039346656037ull ^ (seed_ * 0x9E3779B97F4A7C15ull);
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<std::size_t>(h ^ (h >> 29)) % kSlots;
}

std::optional<std::size_t> PropertySchema::IndexOf(std::string_view name) const {
  const std::uint16_t slot = exact_[SlotOf(name)];
  if (slot != 0 && defs_[slot - 1].name == name) return slot - 1;
  auto it = index_.find(name);
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

const PropertyDef* PropertySchema::Find(std::string_view name) const {
  auto i = IndexOf(name);
  return i ? &defs_[*i] : nullptr;
}

const PropertySchema& ContactSchema() {
  static const PropertySchema schema("contact", ContactDefs());
  return schema;
}

const PropertySchema& MailSchema() {
  static const PropertySchema schema("mail", MailDefs());
  return schema;
}

}  // namespace host
