#pragma once
// Pictures as data: the bytes of an image with its format and size. Backends draw them.

#include <memory>
#include <string>

#include "qninet/rtl/Classes.h"

namespace qninet {

/// An image held as its encoded bytes (PNG, JPEG, GIF, BMP, ICO), with the size read from them.
class QNINET_API TGraphic : public TPersistent {
  QNINET_OBJECT(TGraphic, TPersistent)
public:
  /// Whether no image is held.
  bool Empty() const { return FData.empty(); }
  /// The image's width in pixels; 0 when empty.
  Integer Width() const { return FWidth; }
  /// The image's height in pixels; 0 when empty.
  Integer Height() const { return FHeight; }
  /// The encoded bytes.
  const std::string& Data() const { return FData; }
  /// "png", "jpeg", "gif", "bmp", "ico" (or another format the backend reads) or empty.
  const std::string& Format() const { return FFormat; }
  /// Takes encoded image bytes. Raises `EInvalidGraphic` "Unknown picture file format" when
  /// the bytes are of no known format; leaves the graphic unchanged then.
  void LoadFromBytes(std::string bytes);
  /// Reads a picture file in the format its extension names (".jpg" and ".jpeg" are JPEG), as
  /// far as the GUI backend in use reads that format. Raises `EInvalidGraphic` "Unknown
  /// picture file extension (.EXT)" for an extension no reader knows (or none), `EInvalidGraphic`
  /// when the bytes are no picture of that format, or the file errors of `TFileStream`; the
  /// graphic is unchanged then.
  void LoadFromFile(const String& fileName);
  /// Writes the encoded bytes to the file.
  void SaveToFile(const String& fileName) const;
  /// Drops the image.
  void Clear();
  void Assign(const TPersistent* Source) override;

private:
  std::string FData;
  std::string FFormat;
  Integer FWidth = 0;
  Integer FHeight = 0;
};

class QNINET_API TIcon : public TGraphic {
  QNINET_OBJECT(TIcon, TGraphic)
};

/// Holds one graphic, owned.
class QNINET_API TPicture : public TPersistent {
  QNINET_OBJECT(TPicture, TPersistent)
public:
  TPicture();
  ~TPicture() override;
  /// The graphic held, or none.
  TGraphic* Graphic() const { return FGraphic.get(); }
  /// Sets `Graphic`.
  void SetGraphic(const TGraphic* value);
  /// Whether no image is held.
  bool Empty() const { return !FGraphic || FGraphic->Empty(); }
  /// Reads the picture file as `TGraphic::LoadFromFile` does.
  void LoadFromFile(const String& fileName);
  void Assign(const TPersistent* Source) override;

private:
  std::unique_ptr<TGraphic> FGraphic;
};

/// Reads the format and pixel size of encoded image bytes; false when none is recognised.
QNINET_API bool probe_image(std::string_view bytes, std::string& format, Integer& width, Integer& height);

}  // namespace qninet
