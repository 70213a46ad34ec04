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

TfrmQNInetUpdate::TfrmQNInetUpdate(TComponent* AOwner) : TForm(AOwner) {
  SetName(u"frmQNInetUpdate");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  SetBounds(252, 198, 491, 286);
  SetFont(u"MS Sans Serif", -11);
  SetCaption(strQNInSoftwareUpdate);

  constexpr Integer kNavy = 0x000080;
  constexpr Integer kWhite = 0xFFFFFF;
  constexpr Integer kHighlight = 0x0A246A;  // the classic highlight colour

  auto label = [this](const char16_t* name, Integer l, Integer t, Integer w, Integer h, const String& caption,
                      TControl* parent = nullptr) {
    auto* c = new TLabel(this);
    c->SetName(name);
    c->SetBounds(l, t, w, h);
    c->SetAutoSize(false);
    c->SetCaption(caption);
    c->SetParent(parent);
    return c;
  };
  auto image = [this](const char16_t* name, Integer l, Integer t, Integer w, Integer h,
                      TControl* parent = nullptr) {
    auto* c = new TImage(this);
    c->SetName(name);
    c->SetBounds(l, t, w, h);
    c->SetParent(parent);
    return c;
  };

  pnlDescription = new TPanel(this);
  pnlDescription->SetName(u"pnlDescription");
  pnlDescription->SetBounds(0, 0, 491, 59);
  pnlDescription->SetAlign(alTop);
  pnlDescription->SetColor(kWhite);
  pnlDescription->SetTabOrder(0);

  lblCaption = label(u"lblCaption", 16, 5, 300, 13, String(), pnlDescription);
  lblCaption->SetBold(true);
  lblCaption->SetColor(kNavy);
  lblDescription = label(u"lblDescription", 32, 20, 360, 38, String(), pnlDescription);
  lblDescription->SetColor(kNavy);
  lblDescription->SetTransparent(true);
  lblDescription->SetWordWrap(true);
  imgBackground = image(u"imgBackground", 353, 0, 138, 59, pnlDescription);
  imgBackground->SetAlign(alRight);
  imgDescription = image(u"imgDescription", 440, 6, 48, 48, pnlDescription);
  imgDescription->SetTransparent(true);

  imgLogo = image(u"imgLogo", 5, 65, 95, 206);
  lblRemote = label(u"lblRemote", 105, 80, 70, 13, u"Remote file:");
  lblRemote->SetAlignment(taRightJustify);
  lblLocal = label(u"lblLocal", 105, 96, 70, 13, u"Local file:");
  lblLocal->SetAlignment(taRightJustify);
  lblRemoteFileName = label(u"lblRemoteFileName", 185, 80, 300, 13, u"lblRemoteFileName");
  lblRemoteFileName->SetColor(kHighlight);
  lblLocalFileName = label(u"lblLocalFileName", 185, 96, 300, 13, u"lblLocalFileName");
  lblLocalFileName->SetColor(kHighlight);

  imgStep1 = image(u"imgStep1", 179, 120, 16, 16);
  imgStep2 = image(u"imgStep2", 179, 138, 16, 16);
  imgStep3 = image(u"imgStep3", 179, 156, 16, 16);
  imgStep4 = image(u"imgStep4", 179, 174, 16, 16);
  for (TImage* i : {imgStep1, imgStep2, imgStep3, imgStep4}) i->SetTransparent(true);
  lblStep1 = label(u"lblStep1", 200, 122, 150, 13, u"Step 1: Connection/Logon");
  lblStep2 = label(u"lblStep2", 200, 140, 150, 13, u"Step 2: File search");
  lblStep3 = label(u"lblStep3", 200, 158, 150, 13, u"Step 3: Download");
  lblStep4 = label(u"lblStep4", 200, 176, 150, 13, u"Step 4: Diconnect/Logoff");
  lblStatus = label(u"lblStatus", 128, 200, 339, 13, String());

  pbStatus = new TProgressBar(this);
  pbStatus->SetName(u"pbStatus");
  pbStatus->SetBounds(130, 214, 337, 10);
  pbStatus->SetMin(0);
  pbStatus->SetMax(100);
  pbStatus->SetTabOrder(2);

  btnCancel = new TButton(this);
  btnCancel->SetName(u"btnCancel");
  btnCancel->SetBounds(408, 256, 75, 25);
  btnCancel->SetCaption(u"&Cancel");
  btnCancel->SetTabOrder(1);
  btnCancel->SetTabStop(true);
  btnCancel->SetCancel(true);
  // The form stays open: the engine stops at its next progress report.
  btnCancel->SetOnClick([this](TObject*) { IsCanceled = true; });
}

void TfrmQNInetUpdate::ShowAction(TQNIAction Action) {
  const String* text = nullptr;
  TImage* step = nullptr;
  Integer state = kImageUnderWay;
  switch (Action) {
    case iaConnecting:
      text = &strQNInConnecting;
      step = imgStep1;
      break;
    case iaConnected:
      text = &strQNInConnected;
      step = imgStep1;
      state = kImageConnected;
      break;
    case iaFileSearch:
      text = &strQNInFileSearch;
      step = imgStep2;
      break;
    case iaFileFound:
      text = &strQNInFileFound;
      step = imgStep2;
      break;
    case iaComparing:
      text = &strQNInFileComparing;
      step = imgStep2;
      break;
    case iaCompared:
      text = &strQNInFileCompared;
      step = imgStep2;
      state = kImageCompared;
      break;
    case iaDownloading:
      text = &strQNInDownloading;
      step = imgStep3;
      break;
    case iaDownloaded:
      text = &strQNInDownloaded;
      step = imgStep3;
      state = kImageDownloaded;
      break;
    case iaDisconnecting:
      text = &strQNInDisconnecting;
      step = imgStep4;
      break;
    case iaDisconnected:
      text = &strQNInDisconnected;
      step = imgStep4;
      state = kImageDisconnected;
      break;
    case iaIdle:
      return;
  }
  if (!text) return;
  lblStatus->SetCaption(*text);
  step->SetImageIndex(-1);
  step->SetImageIndex(state);
  Changed();
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
