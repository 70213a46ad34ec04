#include "qninet/web/QNInStat.h"

#include "qninet/core/QNInCnst.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

QNINET_CLASS_INFO(TfrmQNInetUpdate)

String strQNInProgressBytes = u"Downloaded %d bytes";

std::uint64_t progress_percent(std::uint64_t CurValue, std::uint64_t MaxValue) {
  if (MaxValue == 0) return 0;
  // q * 100 + r * 100 / max, without the overflow of cur * 100 for huge values.
  const std::uint64_t q = CurValue / MaxValue;
  const std::uint64_t r = CurValue % MaxValue;
  // r * 100 overflows only for totals above 2^64 / 100 bytes; there the share of r is
  // computed in long double, which is exact enough for two digits.
  const std::uint64_t part = r <= UINT64_MAX / 100
                                 ? r * 100 / MaxValue
                                 : static_cast<std::uint64_t>(static_cast<long double>(r) * 100.0L /
                                                              static_cast<long double>(MaxValue));
  return q * 100 + part;
}

bool progress_total_known(std::uint64_t MaxValue) { return MaxValue != 0 && MaxValue != UINT64_MAX; }

namespace {

struct Place {
  const char16_t* Name;
  Integer Left, Top, Width, Height;
};

template <class C>
C* add(TForm* form, const Place& p, TControl* parent = nullptr) {
  auto* c = new C(form);
  c->SetName(p.Name);
  c->SetBounds(p.Left, p.Top, p.Width, p.Height);
  c->SetParent(parent);
  return c;
}

TLabel* add_label(TForm* form, const Place& p, const String& caption, Integer color = -1,
                  TControl* parent = nullptr) {
  auto* c = add<TLabel>(form, p, parent);
  c->SetAutoSize(false);
  c->SetCaption(caption);
  if (color >= 0) c->SetColor(color);
  return c;
}

constexpr Integer kNavy = 0x000080;
constexpr Integer kWhite = 0xFFFFFF;
constexpr Integer kHighlight = 0x0A246A;  // the classic highlight colour

}  // namespace

TfrmQNInetUpdate::TfrmQNInetUpdate(TComponent* AOwner) : TForm(AOwner) {
  SetName(u"frmQNInetUpdate");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  SetBounds(252, 198, 491, 286);
  SetFont(u"MS Sans Serif", -11);
  SetCaption(strQNInSoftwareUpdate);

  // The white header: title, description and pictures.
  pnlDescription = add<TPanel>(this, {u"pnlDescription", 0, 0, 491, 59});
  pnlDescription->SetAlign(alTop);
  pnlDescription->SetColor(kWhite);
  pnlDescription->SetTabOrder(0);
  lblCaption = add_label(this, {u"lblCaption", 16, 5, 300, 13}, String(), kNavy, pnlDescription);
  lblCaption->SetBold(true);
  lblDescription = add_label(this, {u"lblDescription", 32, 20, 360, 38}, String(), kNavy, pnlDescription);
  lblDescription->SetTransparent(true);
  lblDescription->SetWordWrap(true);
  imgBackground = add<TImage>(this, {u"imgBackground", 353, 0, 138, 59}, pnlDescription);
  imgBackground->SetAlign(alRight);
  imgDescription = add<TImage>(this, {u"imgDescription", 440, 6, 48, 48}, pnlDescription);
  imgDescription->SetTransparent(true);

  imgLogo = add<TImage>(this, {u"imgLogo", 5, 65, 95, 206});
  lblRemote = add_label(this, {u"lblRemote", 105, 80, 70, 13}, u"Remote file:");
  lblLocal = add_label(this, {u"lblLocal", 105, 96, 70, 13}, u"Local file:");
  for (TLabel* l : {lblRemote, lblLocal}) l->SetAlignment(taRightJustify);
  lblRemoteFileName =
      add_label(this, {u"lblRemoteFileName", 185, 80, 300, 13}, u"lblRemoteFileName", kHighlight);
  lblLocalFileName =
      add_label(this, {u"lblLocalFileName", 185, 96, 300, 13}, u"lblLocalFileName", kHighlight);

  // The four steps, one row each: a state image and its label.
  TImage** images[] = {&imgStep1, &imgStep2, &imgStep3, &imgStep4};
  TLabel** labels[] = {&lblStep1, &lblStep2, &lblStep3, &lblStep4};
  const char16_t* const steps[] = {u"Step 1: Connection/Logon", u"Step 2: File search", u"Step 3: Download",
                                   u"Step 4: Diconnect/Logoff"};
  for (Integer i = 0; i < 4; ++i) {
    *images[i] = add<TImage>(this, {(u"imgStep" + IntToStr(i + 1)).c_str(), 179, 120 + 18 * i, 16, 16});
    (*images[i])->SetTransparent(true);
  }
  for (Integer i = 0; i < 4; ++i)
    *labels[i] =
        add_label(this, {(u"lblStep" + IntToStr(i + 1)).c_str(), 200, 122 + 18 * i, 150, 13}, steps[i]);
  lblStatus = add_label(this, {u"lblStatus", 128, 200, 339, 13}, String());

  pbStatus = add<TProgressBar>(this, {u"pbStatus", 130, 214, 337, 10});
  pbStatus->SetMin(0);
  pbStatus->SetMax(100);
  pbStatus->SetTabOrder(2);
  btnCancel = add<TButton>(this, {u"btnCancel", 408, 256, 75, 25});
  btnCancel->SetCaption(u"&Cancel");
  btnCancel->SetTabOrder(1);
  btnCancel->SetTabStop(true);
  btnCancel->SetCancel(true);
  // The form stays open: the engine stops at its next progress report.
  btnCancel->SetOnClick([this](TObject*) { IsCanceled = true; });
}

void TfrmQNInetUpdate::ShowAction(TQNIAction Action) {
  // Each action's status line, step (1 to 4) and state image; the others change nothing.
  static const struct {
    TQNIAction Action;
    const String* Text;
    int Step;
    Integer State;
  } views[] = {
      {iaConnecting, &strQNInConnecting, 1, kImageUnderWay},
      {iaConnected, &strQNInConnected, 1, kImageConnected},
      {iaFileSearch, &strQNInFileSearch, 2, kImageUnderWay},
      {iaFileFound, &strQNInFileFound, 2, kImageUnderWay},
      {iaComparing, &strQNInFileComparing, 2, kImageUnderWay},
      {iaCompared, &strQNInFileCompared, 2, kImageCompared},
      {iaDownloading, &strQNInDownloading, 3, kImageUnderWay},
      {iaDownloaded, &strQNInDownloaded, 3, kImageDownloaded},
      {iaDisconnecting, &strQNInDisconnecting, 4, kImageUnderWay},
      {iaDisconnected, &strQNInDisconnected, 4, kImageDisconnected},
  };
  for (const auto& v : views) {
    if (v.Action != Action) continue;
    TImage* step = (v.Step == 1 ? imgStep1 : v.Step == 2 ? imgStep2 : v.Step == 3 ? imgStep3 : imgStep4);
    lblStatus->SetCaption(*v.Text);
    step->SetImageIndex(-1);
    step->SetImageIndex(v.State);
    Changed();
    return;
  }
}

void TfrmQNInetUpdate::ShowProgress(std::uint64_t CurValue, std::uint64_t MaxValue) {
  const auto clamp = [](std::uint64_t v) { return static_cast<Int64>(v > INT64_MAX ? INT64_MAX : v); };
  if (progress_total_known(MaxValue)) {
    pbStatus->SetMax(clamp(MaxValue));
    pbStatus->SetPosition(clamp(CurValue));
    lblStatus->SetCaption(Format(strQNInProgress, CurValue, MaxValue, progress_percent(CurValue, MaxValue)));
  } else {
    // No total: the bar cannot tell a share, the line tells the bytes.
    pbStatus->SetMax(0);
    pbStatus->SetPosition(0);
    lblStatus->SetCaption(Format(strQNInProgressBytes, CurValue));
  }
  Changed();
}

String TfrmQNInetUpdate::StatusText() const {
  String out;
  const TImage* steps[] = {imgStep1, imgStep2, imgStep3, imgStep4};
  const char16_t* names[] = {u"Connect", u"Search", u"Download", u"Disconnect"};
  for (int i = 0; i < 4; ++i) {
    const Integer s = steps[i]->ImageIndex();
    out += s < 0 ? u"[ ] " : s == kImageUnderWay ? u"[>] " : u"[x] ";
    out += names[i];
    out += u"  ";
  }
  out += lblStatus->Caption();
  if (progress_total_known(static_cast<std::uint64_t>(pbStatus->Max())) && pbStatus->Position() > 0) {
    constexpr int kWidth = 20;
    const std::uint64_t pct = progress_percent(static_cast<std::uint64_t>(pbStatus->Position()),
                                               static_cast<std::uint64_t>(pbStatus->Max()));
    const int filled = static_cast<int>(pct >= 100 ? kWidth : pct * kWidth / 100);
    out += u" [";
    out += String(static_cast<std::size_t>(filled), u'#');
    out += String(static_cast<std::size_t>(kWidth - filled), u'.');
    out += u"]";
  }
  return out;
}

}  // namespace qninet
