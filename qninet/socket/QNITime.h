#pragma once
// The daytime client (RFC 867): the date and time a daytime server writes on its one line.

#include "qninet/rtl/DateUtils.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// Reads a daytime answer's first non-empty line (empty lines of CR and LF around it are the
/// servers' framing), which must be whole (end in CR or LF) and hold one of
/// the recognised forms: NIST "61234 26-12-04 23:15:07 ..." (the day number, then YY-MM-DD with
/// a year of up to four digits, shorter ones in the 2000s, and HH:MM:SS) or the inetd forms
/// "06 DEC 2026 20:51:52 UTC" and "Sun Dec  6 20:51:52 2026". Raises `EConvertError` naming
/// what arrived for any other answer (a cut line, another protocol's text) and for an
/// impossible date or time.
QNINET_API TDateTime DaytimeToDateTime(const String& Answer);

/// A daytime client (TCP port 13). Each read of `DateTime` runs one whole `Execute`.
class QNINET_API TQNInetDateTime : public TQNInetBase {
  QNINET_OBJECT(TQNInetDateTime, TQNInetBase)
public:
  /// Port 13 and the NIST daytime server.
  explicit TQNInetDateTime(TComponent* AOwner);
  ~TQNInetDateTime() override;
  /// Connects, reads the server's line and returns the date and time written in it, without
  /// any time-zone conversion. Raises `EConvertError` for an answer in no recognised form or
  /// naming an impossible date (an engine failure text is such an answer); connection failures
  /// as `Execute`.
  TDateTime GetDateTime();
  /// The published reader: `GetDateTime`.
  TDateTime DateTime() const;
};

/// The daytime server used when none is set.
extern QNINET_API const char16_t* const QNIDefaultDaytimeHost;

}  // namespace qninet
