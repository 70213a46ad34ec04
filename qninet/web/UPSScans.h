#pragma once
// A scan event as the UPS answer readers gather it, before it becomes a lean record of the
// tracker's activity list.

#include <cstdint>

#include "qninet/web/QNIUPS.h"

namespace qninet::ups_detail {

/// A scan's texts, in the order a record keeps them; the address's fields lie together, in the
/// order of the XML answer's address elements.
enum ScanField : std::uint8_t {
  sfLocationCode,
  sfLocationDescription,
  sfSignedForByName,
  sfStatusTypeCode,
  sfStatusTypeDescription,
  sfStatusCode,
  sfAddressLine1,
  sfAddressLine2,
  sfAddressLine3,
  sfCity,
  sfPostalCode,
  sfCountry,
  sfStateProvince,
  kScanFields
};

/// One scan: its texts by `ScanField`, and its time (0: none given).
struct Scan {
  String Texts[kScanFields];  ///< empty when the answer gave none
  TDateTime When = 0;         ///< the scan's date and time
  /// Empties every text, keeping their room for the next scan.
  void Reset() {
    for (String& t : Texts) t.clear();
    When = 0;
  }
};

}  // namespace qninet::ups_detail
