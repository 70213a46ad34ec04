#include "qninet/rtl/Graphics.h"

#include "qninet/rtl/Forms.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/SysUtils.h"

namespace qninet {

QNINET_CLASS_INFO(TGraphic)
QNINET_CLASS_INFO(TIcon)
QNINET_CLASS_INFO(TPicture)

namespace {

unsigned be16(std::string_view b, std::size_t i) {
  return static_cast<unsigned char>(b[i]) << 8 | static_cast<unsigned char>(b[i + 1]);
}
unsigned le16(std::string_view b, std::size_t i) {
  return static_cast<unsigned char>(b[i + 1]) << 8 | static_cast<unsigned char>(b[i]);
}
std::uint32_t be32(std::string_view b, std::size_t i) { return be16(b, i) << 16 | be16(b, i + 2); }
std::int32_t le32(std::string_view b, std::size_t i) {
  return static_cast<std::int32_t>(le16(b, i + 2) << 16 | le16(b, i));
}

}  // namespace

bool probe_image(std::string_view b, std::string& format, Integer& width, Integer& height) {
  if (b.size() >= 24 && b.substr(0, 8) == "\x89PNG\r\n\x1a\n") {
    format = "png";
    width = static_cast<Integer>(be32(b, 16));
    height = static_cast<Integer>(be32(b, 20));
    return true;
  }
  if (b.size() >= 10 && (b.substr(0, 6) == "GIF87a" || b.substr(0, 6) == "GIF89a")) {
    format = "gif";
    width = static_cast<Integer>(le16(b, 6));
    height = static_cast<Integer>(le16(b, 8));
    return true;
  }
  if (b.size() >= 26 && b.substr(0, 2) == "BM") {
    format = "bmp";
    width = le32(b, 18);
    height = le32(b, 22);
    if (height < 0) height = -height;
    return true;
  }
  if (b.size() >= 22 && b.substr(0, 4) == std::string_view("\0\0\1\0", 4)) {
    format = "ico";
    width = static_cast<unsigned char>(b[6]) == 0 ? 256 : static_cast<unsigned char>(b[6]);
    height = static_cast<unsigned char>(b[7]) == 0 ? 256 : static_cast<unsigned char>(b[7]);
    return true;
  }
  if (b.size() >= 4 && b.substr(0, 3) == "\xFF\xD8\xFF") {
    format = "jpeg";
    width = height = 0;
    // Walk the segments to the first start-of-frame marker for the size.
    std::size_t i = 2;
    while (i + 9 < b.size()) {
      if (static_cast<unsigned char>(b[i]) != 0xFF) break;
      const unsigned marker = static_cast<unsigned char>(b[i + 1]);
      const unsigned len = be16(b, i + 2);
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        height = static_cast<Integer>(be16(b, i + 5));
        width = static_cast<Integer>(be16(b, i + 7));
        break;
      }
      i += 2 + len;
    }
    return true;
  }
  return false;
}

void TGraphic::LoadFromBytes(std::string bytes) {
  std::string format;
  Integer w = 0, h = 0;
  if (!probe_image(bytes, format, w, h)) throw EInvalidGraphic(u"Unknown picture file format");
  FData = std::move(bytes);
  FFormat = std::move(format);
  FWidth = w;
  FHeight = h;
}

void TGraphic::LoadFromFile(const String& fileName) {
  const String ext = LowerCase(ExtractFileExt(fileName));
  std::string format = ToUtf8(ext.empty() ? ext : ext.substr(1));
  if (format == "jpg" || format == "jpe" || format == "jfif") format = "jpeg";
  if (format == "tif") format = "tiff";
  gui::TGuiServices& services = gui::Services();
  if (format.empty() || !services.KnowsPictureFormat(format))
    throw EInvalidGraphic(u"Unknown picture file extension (" + ext + u")");
  TMemoryStream m;
  m.LoadFromFile(fileName);
  Integer w = 0, h = 0;
  if (!services.ReadPicture(format, m.Bytes(), w, h))
    throw EInvalidGraphic(u"The file " + fileName + u" holds no " + FromUtf8(format) + u" picture");
  FData = std::string(m.Bytes());
  FFormat = std::move(format);
  FWidth = w;
  FHeight = h;
}

void TGraphic::SaveToFile(const String& fileName) const {
  TFileStream f(fileName, fmCreate);
  f.WriteBuffer(FData.data(), static_cast<Int64>(FData.size()));
}

void TGraphic::Clear() {
  FData.clear();
  FFormat.clear();
  FWidth = FHeight = 0;
}

void TGraphic::Assign(const TPersistent* Source) {
  if (const auto* g = dynamic_cast<const TGraphic*>(Source)) {
    FData = g->FData;
    FFormat = g->FFormat;
    FWidth = g->FWidth;
    FHeight = g->FHeight;
    return;
  }
  if (Source == nullptr) {
    Clear();
    return;
  }
  TPersistent::Assign(Source);
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::SetGraphic(const TGraphic* value) {
  if (!value) {
    FGraphic.reset();
    return;
  }
  auto copy = std::make_unique<TGraphic>();
  copy->Assign(value);
  FGraphic = std::move(copy);
}

void TPicture::LoadFromFile(const String& fileName) {
  auto g = std::make_unique<TGraphic>();
  g->LoadFromFile(fileName);
  FGraphic = std::move(g);
}

void TPicture::Assign(const TPersistent* Source) {
  if (!Source) {
    FGraphic.reset();
    return;
  }
  if (const auto* p = dynamic_cast<const TPicture*>(Source)) {
    SetGraphic(p->Graphic());
    return;
  }
  if (const auto* g = dynamic_cast<const TGraphic*>(Source)) {
    SetGraphic(g);
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace qninet
