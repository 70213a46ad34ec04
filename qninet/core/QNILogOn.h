#pragma once
// The modal logon prompt for a user name and a password.

#include "qninet/rtl/Forms.h"

namespace qninet {

/// The logon dialog's model: its controls in declaration order, as a backend draws them.
class QNINET_API TfrmQNILogon : public TForm {
  QNINET_OBJECT(TfrmQNILogon, TForm)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TfrmQNILogon(TComponent* AOwner);

  /// The dialog's controls, named as in the form file.
  ///@{
  TLabel* lblLogin;
  TLabel* lblPassword;
  TEdit* edLogin;
  TEdit* edPassword;  ///< masked with "*": a password is never shown as typed
  TBevel* bvlButtons;
  TButton* btnOk;
  TButton* btnCancel;
  TImage* imgKey;
  ///@}
};

/// Shows the logon dialog with `Caption` (empty keeps "Enter Password") and the given values.
/// On OK stores the edited texts in `User` and `Password` and returns true; any other close
/// leaves both unchanged and returns false.
QNINET_API bool QNInAskLogon(const String& Caption, String& User, String& Password);

/// The 24 x 24 key picture of the dialog, as a 24-bit BMP.
QNINET_API std::string key_bitmap();

}  // namespace qninet
