#pragma once
// The mail sender's value types: addresses and address lists, attachments, login settings.

#include "qninet/rtl/Collections.h"
#include "qninet/rtl/Strings.h"

namespace qninet {

/// One mail address: the mailbox and its display name.
class QNINET_API TQNIEMailAddress : public TCollectionItem {
  QNINET_OBJECT(TQNIEMailAddress, TCollectionItem)
public:
  /// Joins `Collection` when one is given; the sender's `From` stands alone.
  explicit TQNIEMailAddress(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  /// Copies `Address` and `Name` from another address; anything else is refused.
  void Assign(const TPersistent* Source) override;

  /// The bare address ("joe@example.org").
  const String& Address() const { return FAddress; }
  /// Sets `Address`.
  void SetAddress(const String& value) { FAddress = value; }
  /// The display name; may be empty.
  const String& Name() const { return FName; }
  /// Sets `Name`.
  void SetName(const String& value) { FName = value; }
  /// `Address` alone when `Name` is empty or is the address in capitals; otherwise
  /// "Name <Address>" (the name unquoted).
  String Text() const;
  /// Parses "Name <address>", "address (Name)" or a bare address (kept as written); quotes
  /// around the name are stripped, pair by pair.
  void SetText(const String& value);

private:
  String FAddress;
  String FName;
};

/// An owned list of addresses, parsed from and joined to a comma-separated text.
class QNINET_API TQNIEMailAddresses : public TCollectionOf<TQNIEMailAddress> {
  QNINET_OBJECT(TQNIEMailAddresses, TCollection)
public:
  /// An empty list; `AOwner` is what the list reports as its owner.
  explicit TQNIEMailAddresses(TPersistent* AOwner) : TCollectionOf(AOwner), FQNIControl(AOwner) {}
  /// The object the list reports as its owner.
  TPersistent* QNIControl() const { return FQNIControl; }
  /// Assigns the contents of `value` to the item at `Index` (raises `EListError` when out of range).
  void SetItems(int Index, const TQNIEMailAddress* value) { Items(Index)->Assign(value); }
  /// The items' `Text`, joined with ", "; empty for an empty list.
  String EMailAddresses() const;
  /// Replaces every item by the entries of a comma-separated list. A comma inside one open
  /// double quote belongs to the entry; empty entries add nothing; ";" is no separator.
  void SetEMailAddresses(const String& value);
  /// Appends every item's `Text`, in order, to `AStrings` (not cleared first).
  void FillTStrings(TStrings* AStrings) const;

private:
  TPersistent* FQNIControl;
};

/// One file attached to a message, with its MIME attributes.
class QNINET_API TQNIEMailAttachment : public TCollectionItem {
  QNINET_OBJECT(TQNIEMailAttachment, TCollectionItem)
public:
  /// Joins `Collection` when one is given.
  explicit TQNIEMailAttachment(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  /// Copies AttachmentName, ContentType, Encoding and FileName; anything else is refused.
  void Assign(const TPersistent* Source) override;
  /// `AttachmentName`, or when it is empty the last path component of `FileName`.
  String GetAttachmentName() const;
  /// Sets `ContentType` to what the system registers for `FileName` (`ContentTypeByFile`).
  void DetectContentType();

  /// The name the attachment carries in the message; empty: the file's name.
  const String& AttachmentName() const { return FAttachmentName; }
  /// Sets `AttachmentName`.
  void SetAttachmentName(const String& value) { FAttachmentName = value; }
  /// The attachment's Content-Type; empty: "application/octet-stream" (`DetectContentType` fills it from the
  /// file's name).
  const String& ContentType() const { return FContentType; }
  /// Sets `ContentType`.
  void SetContentType(const String& value) { FContentType = value; }
  /// The Content-Transfer-Encoding ("base64", "quoted-printable", "7bit"...); empty: base64.
  const String& Encoding() const { return FEncoding; }
  /// Sets `Encoding`.
  void SetEncoding(const String& value) { FEncoding = value; }
  /// The file to attach.
  const String& FileName() const { return FFileName; }
  /// Sets `FileName`.
  void SetFileName(const String& value) { FFileName = value; }

private:
  String FAttachmentName;
  String FContentType;
  String FEncoding;
  String FFileName;
};

/// An owned list of attachments.
class QNINET_API TQNIEMailAttachments : public TCollectionOf<TQNIEMailAttachment> {
  QNINET_OBJECT(TQNIEMailAttachments, TCollection)
public:
  /// An empty list; `AOwner` is what the list reports as its owner.
  explicit TQNIEMailAttachments(TPersistent* AOwner) : TCollectionOf(AOwner), FQNIControl(AOwner) {}
  /// The object the list reports as its owner.
  TPersistent* QNIControl() const { return FQNIControl; }
  /// Assigns the contents of `value` to the item at `Index` (raises `EListError` when out of range).
  void SetItems(int Index, const TQNIEMailAttachment* value) { Items(Index)->Assign(value); }

private:
  TPersistent* FQNIControl;
};

/// The account for authenticated sending.
class QNINET_API TQNILogin : public TPersistent {
  QNINET_OBJECT(TQNILogin, TPersistent)
public:
  TQNILogin() = default;
  /// Copies UserID, Password and UseLogin from another login; anything else is refused.
  void Assign(const TPersistent* Source) override;

  /// The account's user name.
  const String& UserID() const { return FUserID; }
  /// Sets `UserID`.
  void SetUserID(const String& value) { FUserID = value; }
  /// The account's password.
  const String& Password() const { return FPassword; }
  /// Sets `Password`.
  void SetPassword(const String& value) { FPassword = value; }
  /// Whether to log in (AUTH) before sending.
  bool UseLogin() const { return FUseLogin; }
  /// Sets `UseLogin`.
  void SetUseLogin(bool value) { FUseLogin = value; }

private:
  String FUserID;
  String FPassword;
  bool FUseLogin = false;
};

}  // namespace qninet
