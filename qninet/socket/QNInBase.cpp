#include "qninet/socket/QNInBase.h"

#include <memory>

#include "qninet/core/HttpRequest.h"
#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/core/qniutil.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/Framing.h"
#include "qninet/sys/FailureText.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNITLSMode, "tlsNone", "tlsImplicit", "tlsStartTLS")

// ---------------------------------------------------------------------------------------------
// TQNInetBase

QNINET_CLASS_INFO(
    TQNInetBase, Published("UseTLS", &Self::UseTLS, &Self::SetUseTLS, tlsNone),
    Published("CAFile", &Self::CAFile, &Self::SetCAFile, u""),
    Published("About", &Self::About, &Self::SetAbout, u""), Published("Port", &Self::Port, &Self::SetPort, 0),
    Published("Host", &Self::Host, &Self::SetHost, u""),
    Published("Address", &Self::Address, &Self::SetAddress, u""),
    Published("KeepConnection", &Self::KeepConnection, &Self::SetKeepConnection, false),
    Published("Proxy", &Self::Proxy),
    Published("LoginPrompt", &Self::LoginPrompt, &Self::SetLoginPrompt, true),
    Published("Timeout", &Self::Timeout, &Self::SetTimeout, 60000),
    Published("MaxAnswerSize", &Self::MaxAnswerSize, &Self::SetMaxAnswerSize, kDefaultMaxAnswerSize),
    Published("MaxTime", &Self::MaxTime, &Self::SetMaxTime, 0), PublishedEvent("OnConnect", &Self::OnConnect),
    PublishedEvent("OnDisconnect", &Self::OnDisconnect), PublishedEvent("OnError", &Self::OnError),
    PublishedEvent("OnLookup", &Self::OnLookup), PublishedEvent("OnConnecting", &Self::OnConnecting),
    PublishedEvent("OnSendTextToSocket", &Self::OnSendTextToSocket),
    PublishedEvent("OnReceiveTextFromSocket", &Self::OnReceiveTextFromSocket),
    PublishedEvent("OnBeforeExecute", &Self::OnBeforeExecute),
    PublishedEvent("OnAfterExecute", &Self::OnAfterExecute), PublishedEvent("OnDone", &Self::OnDone))

namespace {

const char16_t kNoAnswer[] = u"No answer from server";

/// The engine's framing: everything to the close, with the status check of the first chunk.
class TCheckedToClose : public TReadToClose {
public:
  void Take(std::string_view chunk) override {
    // Only a first chunk that is a status line is examined: any other answer is the
    // protocol's own, and a number after its first blank means nothing.
    if (Empty() && chunk.starts_with("HTTP/")) {
      switch (first_chunk_status(FromBytes(chunk))) {
        case 401:
          throw Exception(strQNInEAuthRequired);
        case 404:
          throw Exception(strQNInEFileNotFound);
        case 407:
          throw Exception(strQNInEProxyAuth);
        default:
          break;
      }
    }
    TReadToClose::Take(chunk);
  }
};

}  // namespace

Integer first_chunk_status(StringView chunk) {
  const auto blank = chunk.find(u' ');
  if (blank == StringView::npos) return 200;
  return StrToIntDef(chunk.substr(blank + 1, 3), 200);
}

TQNInetBase::TQNInetBase(TComponent* AOwner)
    : TComponent(AOwner), FAsync(std::make_unique<TAsyncRunner>(*this)) {
  StepCount = 1;
  FProxy = std::make_unique<TQNInetProxy>();
  FProxy->SetPort(0);
  FLoginPrompt = true;
  FClientSocket = new platform::TClientSocket(this);
  using namespace std::placeholders;
  FClientSocket->SetOnLookup([this](TObject* s, platform::TClientSocket* c) { DoLookup(s, c); });
  FClientSocket->SetOnConnecting([this](TObject* s, platform::TClientSocket* c) { DoConnecting(s, c); });
  FClientSocket->SetOnConnect([this](TObject* s, platform::TClientSocket* c) { DoConnect(s, c); });
  FClientSocket->SetOnDisconnect([this](TObject* s, platform::TClientSocket* c) { DoDisconnect(s, c); });
  FClientSocket->SetOnError([this](TObject* s, platform::TClientSocket* c, TErrorEvent e, Integer& code) {
    DoError(s, c, e, code);
  });
  FClientSocket->SetOnTLSStart([this](TObject*, platform::TClientSocket* c) { DoTLSStart(c); });
  FClientSocket->SetClientType(platform::ctBlocking);
  FClientSocket->SetTimeout(FTimeout);
  FKeepConnection = false;
}

TQNInetBase::~TQNInetBase() {
  StopAsyncRun();
  FProxy.reset();
}

void TQNInetBase::StopAsyncRun() noexcept {
  FCancelled.store(true);
  FAsync->Stop();
}

void TQNInetBase::operator delete(TQNInetBase* p, std::destroying_delete_t) {
  p->FCancelled.store(true);
  p->FAsync->Stop();
  void* whole = dynamic_cast<void*>(p);
  p->~TQNInetBase();
  ::operator delete(whole);
}

void TQNInetBase::ExecuteAsync() {
  FAsync->RefuseSecondRun();
  FCancelled.store(false);
  FAnswer.clear();
  FAsync->Start(
      [this] {
        String answer = Execute();
        FAnswer = std::move(answer);
        return FLastError.empty();
      },
      [this](bool ok) {
        if (!ok && FLastError.empty()) FLastError = u"The run failed.";
        FCancelled.store(false);
        if (FOnDone) FOnDone(this, ok);
      });
}

void TQNInetBase::Cancel() {
  if (FAsync->Busy()) FCancelled.store(true);
}

void TQNInetBase::DoLookup(TObject* Sender, platform::TClientSocket* Socket) {
  if (FOnLookup) OnStartingThread([&] { FOnLookup(Sender, Socket); });
}

void TQNInetBase::DoConnecting(TObject* Sender, platform::TClientSocket* Socket) {
  if (FOnConnecting) OnStartingThread([&] { FOnConnecting(Sender, Socket); });
}

void TQNInetBase::DoConnect(TObject* Sender, platform::TClientSocket* Socket) {
  FConnected = true;
  if (FOnConnect) OnStartingThread([&] { FOnConnect(Sender, Socket); });
}

void TQNInetBase::DoDisconnect(TObject* Sender, platform::TClientSocket* Socket) {
  FConnected = false;
  if (FOnDisconnect) OnStartingThread([&] { FOnDisconnect(Sender, Socket); });
}

void TQNInetBase::DoError(TObject* Sender, platform::TClientSocket* Socket, TErrorEvent ErrorEvent,
                          Integer& ErrorCode) {
  FConnected = false;
  if (FOnError) OnStartingThread([&] { FOnError(Sender, Socket, ErrorEvent, ErrorCode); });
}

platform::TClientType TQNInetBase::ClientType() const { return FClientSocket->ClientType(); }
void TQNInetBase::SetClientType(platform::TClientType value) {
  RefuseWriteWhileRunning(*this);
  FClientSocket->SetClientType(value);
}

Integer TQNInetBase::Port() const { return FClientSocket->Port(); }

void TQNInetBase::SetPort(Integer value) {
  RefuseWriteWhileRunning(*this);
  FPort = value;
  FClientSocket->SetPort(value);
}

String TQNInetBase::Host() const { return FClientSocket->Host(); }
String TQNInetBase::Address() const { return FClientSocket->Address(); }

void TQNInetBase::SetHost(const String& value) {
  RefuseWriteWhileRunning(*this);
  if (AddrIsIP(value)) {
    FHost.clear();
    FAddress = value;
  } else {
    FHost = value;
    FAddress.clear();
  }
  FClientSocket->SetHost(FHost);
  FClientSocket->SetAddress(FAddress);
}

// Both doors sort the value by its form, so Address accepts a name just as Host does.
void TQNInetBase::SetAddress(const String& value) { SetHost(value); }

void TQNInetBase::SetProxy(const TQNInetProxy* value) {
  RefuseWriteWhileRunning(*this);
  FProxy->Assign(value);
}

void TQNInetBase::SetTimeout(Integer value) {
  RefuseWriteWhileRunning(*this);
  FTimeout = value < 0 ? 0 : value;
  FClientSocket->SetTimeout(FTimeout);
}

void TQNInetBase::SetOnSendTextToSocket(TSocketNotifyEvent value) {
  RefuseWriteWhileRunning(*this);
  FOnSendTextToSocket = std::move(value);
  if (!FOnSendTextToSocket) return FClientSocket->SetOnWrite(nullptr);
  FClientSocket->SetOnWrite([this](TObject* s, platform::TClientSocket* c) {
    OnStartingThread([&] { FOnSendTextToSocket(s, c); });
  });
}

void TQNInetBase::SetOnReceiveTextFromSocket(TSocketNotifyEvent value) {
  RefuseWriteWhileRunning(*this);
  FOnReceiveTextFromSocket = std::move(value);
  if (!FOnReceiveTextFromSocket) return FClientSocket->SetOnRead(nullptr);
  FClientSocket->SetOnRead([this](TObject* s, platform::TClientSocket* c) {
    OnStartingThread([&] { FOnReceiveTextFromSocket(s, c); });
  });
}

bool TQNInetBase::AddrIsIP(const String& S) {
  Integer pieces[5] = {-1, -1, -1, -1, -1};
  int count = 0;
  String piece;
  for (std::size_t i = 0; i < S.size() && count < 5; ++i) {
    const bool last = i + 1 == S.size();
    if (S[i] != u'.' && !last) {
      piece += S[i];
      continue;
    }
    if (last) piece += S[i];  // the last character joins its piece, even a dot
    pieces[count++] = StrToIntDef(piece, -1);
    piece.clear();
  }
  for (int i = 0; i < 4; ++i)
    if (pieces[i] < 0 || pieces[i] > 255) return false;
  return pieces[4] == -1;
}

bool TQNInetBase::goes_to_proxy() const { return FProxy->UseProxy() && !FProxy->Server().empty(); }

void TQNInetBase::point_socket_at(const String& host, const String& address, Integer port) {
  FClientSocket->SetHost(host);
  FClientSocket->SetAddress(address);
  FClientSocket->SetPort(port);
}

template <class TWaitCall>
auto TQNInetBase::bounded(TWaitCall wait) {
  if (FCancelled.load()) throw EAbort(u"Cancelled");
  if (!FDeadline) return wait();
  using namespace std::chrono;
  const auto left = duration_cast<milliseconds>(*FDeadline - steady_clock::now()).count();
  if (left <= 0) throw Exception(Format(strQNInETimeLimit, FMaxTime));
  // The socket applies its time-out to each wait it makes, so a trickle still needs the check
  // between the waits.
  FClientSocket->SetTimeout(static_cast<Integer>(FTimeout > 0 && FTimeout < left ? FTimeout : left));
  try {
    return wait();
  } catch (const Exception&) {
    // A wait cut at the deadline may wake a hair early.
    if (steady_clock::now() + milliseconds(5) >= *FDeadline)
      throw Exception(Format(strQNInETimeLimit, FMaxTime));
    throw;
  }
}

String TQNInetBase::GetQuery() { return String(); }

void TQNInetBase::AskProxyLogon() {
  if (!FLoginPrompt || !goes_to_proxy()) return;
  String user = FProxy->User();
  String password = FProxy->Password();
  if (QNInAskLogon(strQNInProxyLogon, user, password)) {
    FProxy->SetUser(user);
    FProxy->SetPassword(password);
  }
}

String TQNInetBase::GetRawHeaders() {
  String R;
  if (FProxy->UseProxy()) {
    // The credentials are the proxy's: a server reached directly must never see them.
    if (goes_to_proxy()) {
      HTTPRefuseLineBreaks(FProxy->User(), u"Proxy.User");
      HTTPRefuseLineBreaks(FProxy->Password(), u"Proxy.Password");
      if (!FProxy->User().empty()) R += u"Username: " + FProxy->User() + u"\r\n";
      if (!FProxy->Password().empty()) R += u"Password: " + FProxy->Password() + u"\r\n";
    }
  } else {
    R += u"Proxy-Connection: Keep-Alive\r\n";
  }
  R += u"\r\n";
  return R;
}

void TQNInetBase::Connect() {
  if (FConnected) {
    FReached = true;
    return;
  }
  if (Host().empty() && Address().empty()) throw Exception(strQNInEHost);
  if (goes_to_proxy()) {
    // The proxy protocols spoken here carry the request in clear; no tunnel is built.
    if (FUseTLS != tlsNone) throw Exception(u"TLS through a proxy is not supported.");
    const String& server = FProxy->Server();
    if (AddrIsIP(server))
      point_socket_at(String(), server, FProxy->Port());
    else
      point_socket_at(server, String(), FProxy->Port());
  } else {
    // A run through a proxy left its endpoint in the socket; go back to the server's own.
    point_socket_at(FHost, FAddress, FPort);
  }
  bounded([this] { FClientSocket->Open(); });
  if (FUseTLS == tlsImplicit) StartTLS();
  FReached = true;
}

void TQNInetBase::StartTLS() {
  bounded([this] { FClientSocket->StartTLS(!FHost.empty() ? FHost : FAddress, FCAFile); });
}

void TQNInetBase::Trace(TQNITraceKind Kind, const String& Text) {
  if (FOnTrace) OnStartingThread([&] { FOnTrace(this, Kind, Text); });
}

void TQNInetBase::DoTLSStart(platform::TClientSocket* Socket) {
  if (!Tracing()) return;
  // Trace text is wire text like the dialogue's: the names go as their UTF-8 bytes.
  const platform::TTLSDetails d = Socket->TLSDetails();
  for (const String& line :
       {d.Version + u" connection using " + d.Cipher, u"Server certificate: subject: " + d.Subject,
        u"Server certificate: issuer: " + d.Issuer})
    Trace(trInfo, FromBytes(ToUtf8(line)));
}

void TQNInetBase::SetUseTLSMovingPort(TQNITLSMode value, Integer plainPort, Integer tlsPort) {
  const bool was = FUseTLS == tlsImplicit;
  const bool now = value == tlsImplicit;
  TQNInetBase::SetUseTLS(value);
  if (!was && now && Port() == plainPort) SetPort(tlsPort);
  if (was && !now && Port() == tlsPort) SetPort(plainPort);
}

bool TQNInetBase::TLSActive() const { return FClientSocket->TLSActive(); }

void TQNInetBase::Disconnect() {
  if (FConnected) FClientSocket->Close();
}

void TQNInetBase::BeforeExecute() {
  if (FOnBeforeExecute) OnStartingThread([this] { FOnBeforeExecute(this); });
}

void TQNInetBase::AfterExecute(String& Text) {
  if (FOnAfterExecute) OnStartingThread([&] { FOnAfterExecute(this, Text); });
}

// The socket names every wait that runs out as the connect's; once connected it is a wait for
// the peer, and the message says which and for how long.
void TQNInetBase::raise_wait_time_out(const Exception& failure, bool sending) {
  if (failure.Message() != AtSocketEndpoint(FromUtf8(sys::kConnectionTimedOut))) return;
  FWaitTimedOut = true;
  const std::int64_t ms = FClientSocket->Timeout();
  throw ESocketError(
      AtSocketEndpoint(FromUtf8(sending ? sys::sending_data_text(ms) : sys::waiting_for_data_text(ms))));
}

Integer TQNInetBase::SendToSocket(const String& S) {
  const std::string bytes = ToBytes(S);
  FWaitTimedOut = false;
  try {
    return bounded([&] { return FClientSocket->SendBuf(bytes.data(), static_cast<Integer>(bytes.size())); });
  } catch (const ESocketError& e) {
    raise_wait_time_out(e, true);
    throw;
  }
}

Integer TQNInetBase::ReceiveFromSocket(void* Buffer, Integer Count) {
  FWaitTimedOut = false;
  try {
    return bounded([&] { return FClientSocket->ReceiveBuf(Buffer, Count); });
  } catch (const ESocketError& e) {
    raise_wait_time_out(e, false);
    throw;
  }
}

String TQNInetBase::AtSocketEndpoint(const String& Text) const {
  const String& node = FClientSocket->Address().empty() ? FClientSocket->Host() : FClientSocket->Address();
  return platform::AtEndpoint(platform::EndpointText(node, FClientSocket->Port()), Text);
}

String TQNInetBase::GetLocalHost() { return FClientSocket->LocalHost(); }

TReceiveEnd TQNInetBase::ReceiveFramed(TFramingRule& Rule) {
  // Counted as it arrives, so an endless answer costs at most the cap and one read.
  std::int64_t received = 0;
  const std::int64_t cap = FMaxAnswerSize;
  return receive_framed(
      [this, &received, cap](void* buffer, Integer count) {
        const Integer n = ReceiveFromSocket(buffer, count);
        if (n > 0) received += n;
        if (cap > 0 && received > cap) throw Exception(Format(strQNInEAnswerTooLarge, cap));
        return n;
      },
      Rule);
}

String TQNInetBase::InternalExecute() {
  // Before the query is built: a request that carries the proxy's credentials itself (the HTTP
  // client's Proxy-Authorization line) must already hold what the user typed.
  AskProxyLogon();
  String query = GetQuery();
  if (!query.empty()) query += GetRawHeaders();
  const Integer n = query.empty() ? 1 : SendToSocket(query);
  if (n <= 0) return kNoAnswer;
  // A read error the socket did not raise ends the answer as the close does.
  TCheckedToClose answer;
  ReceiveFramed(answer);
  return answer.TakeText();
}

void drop_stale_connection(TQNInetBase& Component) {
  // Without KeepConnection a connection open at the start of a cycle is what a failed cycle
  // (a 404, a read error) left behind; the server has closed its side, so reusing it would
  // send into a dead connection and read an empty answer.
  if (Component.Connected() && !Component.KeepConnection()) Component.Disconnect();
}

String TQNInetBase::Execute() {
  // An event handler that runs the component again would send on, and then close, the
  // connection the running cycle still reads: refuse before anything of the cycle changes.
  FAsync->RefuseSecondRun();
  if (FRunning) throw EInvalidOperation((Name().empty() ? ClassName() : Name()) + u" is already running");
  FLastError.clear();
  FReached = false;
  if (FMaxTime > 0) FDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(FMaxTime);
  FRunning = true;
  // The bound belongs to this cycle: a later Connect or step of the application's own is free.
  struct EndOfCycle {
    TQNInetBase& C;
    ~EndOfCycle() {
      if (C.FDeadline) C.FClientSocket->SetTimeout(C.FTimeout);
      C.FDeadline.reset();
      C.FRunning = false;
    }
  } end{*this};
  try {
    BeforeExecute();
    if (Host().empty() && Address().empty()) throw Exception(strQNInEHost);
    Connect();
  } catch (const Exception& e) {
    FLastError = e.Message();
    // A descendant's Connect goes on into the dialogue (a greeting, a login): what fails there
    // comes from the server, and is reported as the steps' failures are.
    if (FReached) return FLastError;
    throw;
  }
  try {
    String result;
    CurrentStep = 0;
    while (CurrentStep < StepCount) {
      String text = InternalExecute();
      AfterExecute(text);
      if (result.empty())
        result = std::move(text);
      else
        result += text;
      ++CurrentStep;
    }
    if (!FKeepConnection) Disconnect();
    return result;
  } catch (const Exception& e) {
    FLastError = e.Message();
    return e.Message();
  }
}

}  // namespace qninet
