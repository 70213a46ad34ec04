#include "qninet/core/QNILogOn.h"

#include <memory>

namespace qninet {

QNINET_CLASS_INFO(TfrmQNILogon)

namespace {

void put_le(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string key_bitmap() {
  constexpr int kSize = 24;
  // A gold key: a ring at the left, a shaft to the right with two teeth.
  auto inside = [](int x, int y) {
    const int dx = x - 6, dy = y - 12;
    const int r2 = dx * dx + dy * dy;
    if (r2 <= 25 && r2 >= 5) return true;                       // the ring
    if (y >= 11 && y <= 13 && x >= 10 && x <= 22) return true;  // the shaft
    if (x >= 17 && x <= 18 && y >= 14 && y <= 17) return true;  // first tooth
    if (x >= 20 && x <= 22 && y >= 14 && y <= 16) return true;  // second tooth
    return false;
  };
  const int row = kSize * 3;  // 72 bytes, already a multiple of 4
  std::string bmp = "BM";
  put_le(bmp, 54 + row * kSize, 4);
  put_le(bmp, 0, 4);
  put_le(bmp, 54, 4);
  put_le(bmp, 40, 4);
  put_le(bmp, kSize, 4);
  put_le(bmp, kSize, 4);
  put_le(bmp, 1, 2);
  put_le(bmp, 24, 2);
  put_le(bmp, 0, 4);
  put_le(bmp, static_cast<std::uint32_t>(row * kSize), 4);
  put_le(bmp, 3780, 4);
  put_le(bmp, 3780, 4);
  put_le(bmp, 0, 4);
  put_le(bmp, 0, 4);
  for (int y = kSize - 1; y >= 0; --y)  // bottom-up rows, BGR
    for (int x = 0; x < kSize; ++x) {
      const bool k = inside(x, y);
      bmp.push_back(static_cast<char>(k ? 0x20 : 0xFF));
      bmp.push_back(static_cast<char>(k ? 0xA5 : 0x00));
      bmp.push_back(static_cast<char>(k ? 0xDA : 0xFF));
    }
  return bmp;
}

TfrmQNILogon::TfrmQNILogon(TComponent* AOwner) : TForm(AOwner) {
  SetName(u"frmQNILogon");
  SetCaption(u"Enter Password");
  SetBounds(200, 108, 305, 105);
  SetBorderStyle(bsDialog);
  SetFont(u"MS Sans Serif", -11);

  auto label = [this](const char16_t* name, Integer l, Integer t, Integer w, Integer h,
                      const char16_t* caption) {
    auto* c = new TLabel(this);
    c->SetName(name);
    c->SetBounds(l, t, w, h);
    c->SetCaption(caption);
    c->SetAlignment(taRightJustify);
    c->SetAutoSize(false);
    c->SetTransparent(true);
    return c;
  };
  auto edit = [this](const char16_t* name, Integer t, Integer tab) {
    auto* c = new TEdit(this);
    c->SetName(name);
    c->SetBounds(144, t, 150, 21);
    c->SetTabOrder(tab);
    return c;
  };
  auto button = [this](const char16_t* name, Integer l, const char16_t* caption, TModalResult r,
                       Integer tab) {
    auto* c = new TButton(this);
    c->SetName(name);
    c->SetBounds(l, 72, 75, 25);
    c->SetCaption(caption);
    c->SetModalResult(r);
    c->SetTabOrder(tab);
    return c;
  };

  lblLogin = label(u"lblLogin", 48, 12, 88, 13, u"User ID:");
  lblPassword = label(u"lblPassword", 16, 37, 120, 13, u"Password:");
  edLogin = edit(u"edLogin", 8, 0);
  edPassword = edit(u"edPassword", 32, 1);
  edPassword->SetPasswordChar(u'*');
  lblLogin->SetFocusControl(edLogin);
  lblPassword->SetFocusControl(edPassword);
  bvlButtons = new TBevel(this);
  bvlButtons->SetName(u"bvlButtons");
  bvlButtons->SetBounds(8, 64, 289, 17);
  btnOk = button(u"btnOk", 139, u"&OK", mrOk, 2);
  btnOk->SetDefault(true);
  btnCancel = button(u"btnCancel", 219, u"&Cancel", mrCancel, 3);
  btnCancel->SetCancel(true);
  imgKey = new TImage(this);
  imgKey->SetName(u"imgKey");
  imgKey->SetBounds(16, 8, 24, 24);
  imgKey->SetTransparent(true);
  TGraphic key;
  key.LoadFromBytes(key_bitmap());
  imgKey->Picture()->SetGraphic(&key);
}

bool QNInAskLogon(const String& Caption, String& User, String& Password) {
  auto form = std::make_unique<TfrmQNILogon>(nullptr);
  if (!Caption.empty()) form->SetCaption(Caption);
  form->edLogin->SetText(User);
  form->edPassword->SetText(Password);
  if (form->ShowModal() != mrOk) return false;
  User = form->edLogin->Text();
  Password = form->edPassword->Text();
  return true;
}

}  // namespace qninet
