#include "qninet/socket/MailTypes.h"

#include <tuple>
#include <utility>

#include "qninet/core/qniutil.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

// ---------------------------------------------------------------------------------------------
// Addresses

void TQNIEMailAddress::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNIEMailAddress*>(Source)) {
    FAddress = src->FAddress;
    FName = src->FName;
    return;
  }
  inherited::Assign(Source);
}

String TQNIEMailAddress::Text() const {
  if (FName.empty() || FName == UpperCase(FAddress)) return FAddress;
  return FName + u" <" + FAddress + u">";
}

namespace {

// The name with its nested quote pairs stripped, all in one cut.
StringView unquoted_name(StringView name) {
  while (name.size() >= 2 && name.front() == name.back() && (name.front() == u'"' || name.front() == u'\''))
    name = name.substr(1, name.size() - 2);
  return name;
}

// Parses one address's text into its two fields, each taken once from a view and sized to its
// text: a list of many addresses keeps no quoted copy of a name and no slack beside them.
std::pair<String, String> parse_address(StringView value) {
  std::pair<String, String> out;  // address, name
  const auto split = [&](char16_t open, bool nameInside) {
    const auto p = value.find(open);
    if (p == StringView::npos) return;
    String inside = Trim(value.substr(p + 1, value.size() - p - 2));
    String before = Trim(value.substr(0, p));
    out.first = std::move(nameInside ? before : inside);
    out.second = unquoted_name(nameInside ? inside : before);
  };
  if (!value.empty() && value.back() == u'>')
    split(u'<', false);
  else if (!value.empty() && value.back() == u')')
    split(u'(', true);
  else
    out.first = value;
  return out;
}

}  // namespace

// Parsed before either field is cleared: `value` may be one of them.
void TQNIEMailAddress::SetText(const String& value) { std::tie(FAddress, FName) = parse_address(value); }

String TQNIEMailAddresses::EMailAddresses() const {
  String result;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) result += u", ";
    result += Items(i)->Text();
  }
  return result;
}

void TQNIEMailAddresses::SetEMailAddresses(const String& value) {
  Clear();
  std::size_t start = 0;
  int quotes = 0;
  const auto take = [&](std::size_t end) {
    const String entry = Trim(StringView(value).substr(start, end - start));
    if (!entry.empty()) Add()->SetText(entry);
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'"')
      ++quotes;
    else if (value[i] == u',' && quotes != 1) {
      take(i);
      start = i + 1;
      quotes = 0;
    }
  }
  take(value.size());
}

void TQNIEMailAddresses::FillTStrings(TStrings* AStrings) const {
  if (AStrings == nullptr) return;
  for (int i = 0; i < Count(); ++i) AStrings->Add(Items(i)->Text());
}

// ---------------------------------------------------------------------------------------------
// Attachments and login

void TQNIEMailAttachment::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNIEMailAttachment*>(Source)) {
    FAttachmentName = src->FAttachmentName;
    FContentType = src->FContentType;
    FEncoding = src->FEncoding;
    FFileName = src->FFileName;
    return;
  }
  inherited::Assign(Source);
}

String TQNIEMailAttachment::GetAttachmentName() const {
  return FAttachmentName.empty() ? ExtractFileName(FFileName) : FAttachmentName;
}

void TQNIEMailAttachment::DetectContentType() { FContentType = ContentTypeByFile(FFileName); }

void TQNILogin::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNILogin*>(Source)) {
    FUserID = src->FUserID;
    FPassword = src->FPassword;
    FUseLogin = src->FUseLogin;
    return;
  }
  inherited::Assign(Source);
}

QNINET_CLASS_INFO(TQNIEMailAddress, Published("Address", &Self::Address, &Self::SetAddress),
                  Published("Name", &Self::Name, &Self::SetName),
                  // The combined form is computed from the two above; storing it as well
                  // would parse it again on loading and could change the name.
                  Published("Text", &Self::Text, &Self::SetText).StoredWhen([](const TObject&) {
                    return false;
                  }))
QNINET_CLASS_INFO(TQNIEMailAddresses)
QNINET_CLASS_INFO(TQNIEMailAttachment,
                  Published("AttachmentName", &Self::AttachmentName, &Self::SetAttachmentName),
                  Published("ContentType", &Self::ContentType, &Self::SetContentType),
                  Published("Encoding", &Self::Encoding, &Self::SetEncoding),
                  Published("FileName", &Self::FileName, &Self::SetFileName))
QNINET_CLASS_INFO(TQNIEMailAttachments)
QNINET_CLASS_INFO(TQNILogin, Published("UserID", &Self::UserID, &Self::SetUserID),
                  Published("Password", &Self::Password, &Self::SetPassword),
                  Published("UseLogin", &Self::UseLogin, &Self::SetUseLogin))

}  // namespace qninet
