#pragma once
// The socket query engine that every one-connection client rides on.

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <optional>

#include "qninet/core/QNInProxy.h"
#include "qninet/platform/ClientSocket.h"
#include "qninet/rtl/AsyncRun.h"
#include "qninet/rtl/Classes.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

class TFramingRule;               // the library's framing rules (socket/Framing.h)
enum TReceiveEnd : std::uint8_t;  // how a framed receive ended

/// Whether and when the connection speaks TLS: never, from the first byte, or after the
/// component's protocol asked the server to upgrade (where it has a command for that).
enum TQNITLSMode : std::uint8_t { tlsNone, tlsImplicit, tlsStartTLS };
QNINET_DECLARE_ENUM_INFO(TQNITLSMode)

/// What one line of a run's trace tells (see `TQNInetBase::OnTrace`): a note on the connection,
/// a protocol command sent, a reply line received, or a piece of message data sent.
enum TQNITraceKind : std::uint8_t { trInfo, trSent, trReceived, trData };
/// One line of a run's trace; `Text` is wire text (one byte per character) without its line end,
/// except for `trData`, which is the bytes as sent.
using TQNITraceEvent = std::function<void(TObject* Sender, TQNITraceKind Kind, const String& Text)>;

using TNotifyEvent = std::function<void(TObject* Sender)>;
/// The answer of one step, by reference so that a handler can rewrite it.
using TQNIReceivedEvent = std::function<void(TObject* Sender, String& Text)>;

/// The base of every component that talks to a server over one TCP connection.
///
/// `Execute` runs the cycle: `BeforeExecute`, the server check, `Connect`, then `StepCount`
/// times `InternalExecute` (query, header block, send, read until the server closes) and
/// `AfterExecute`, then `Disconnect` unless `KeepConnection`. Wire text is one byte per
/// character both ways. The connection goes to `Proxy.Server`:`Proxy.Port` when `UseProxy` is
/// set and `Server` is not empty, else to the server's own endpoint. With `UseTLS` at
/// `tlsImplicit` the connection is a TLS session from its first byte; the server's certificate
/// must be valid for `Host`/`Address` under the system's store and `CAFile`.
///
/// `ExecuteAsync` runs the same cycle on a worker thread; its events arrive on the thread that
/// started it (see `qninet/rtl/AsyncRun.h`).
class QNINET_API TQNInetBase : public TComponent {
  QNINET_OBJECT(TQNInetBase, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNInetBase(TComponent* AOwner);
  /// Cancels and joins a run still in progress (see `operator delete`).
  ~TQNInetBase() override;
  /// Deleting a component stops its asynchronous run before any destructor runs, so the worker
  /// never meets a half-destroyed component.
  void operator delete(TQNInetBase* p, std::destroying_delete_t);

  /// The cycle: BeforeExecute, server check, Connect, StepCount x (InternalExecute,
  /// AfterExecute), Disconnect unless KeepConnection. One rule for what raises and what is
  /// reported:
  /// - raised, before anything is sent: what the application's own input lacks or holds
  ///   (`Exception` "Host/Address is not defined." when no server is set; a descendant's
  ///   checks in `BeforeExecute`, such as the mail sender's line breaks, unreadable
  ///   attachments and texts its charset cannot hold), and a connection that cannot be made
  ///   (`ESocketError`: the name is unknown, refused, "Connection timed out" while connecting,
  ///   the TLS handshake of `tlsImplicit`);
  /// - reported once the connection is made: the returned text is the message instead of the
  ///   answers, and `LastError()` holds it too (a refusal, a greeting that never came, "ENDPOINT:
  ///   timed out waiting for data after N s", a close, an answer too large, `MaxTime`); the
  ///   connection stays as the failure left it.
  /// Raises `EInvalidOperation` "NAME is already running" when called while this component's
  /// own `Execute` runs (from one of its event handlers), before touching the running cycle; a
  /// handler that lets it out ends that cycle as any handler's error does.
  String Execute();
  /// Starts `Execute` on a worker thread and returns at once. Every event of the run (the
  /// socket notifications, OnBeforeExecute, OnAfterExecute, the logon prompt) is delivered on
  /// this thread through the GUI backend's message processing, the worker waiting until its
  /// handler ran; then `OnDone` with whether the cycle completed (`LastError()` empty), the
  /// answers in `Answer()`. Raises `EInvalidOperation` "NAME is already running" while a run
  /// is in progress. Writing a published property of the running component raises
  /// `EInvalidOperation` until `OnDone`.
  void ExecuteAsync();
  /// Whether an asynchronous run is in progress (until its `OnDone`).
  bool Busy() const { return FAsync->Busy(); }
  /// Ends the asynchronous run in progress at its next wait on the socket (a wait under way
  /// ends when data arrives or `Timeout` passes): it fails with "Cancelled". Nothing otherwise.
  void Cancel();
  /// Processes this thread's messages until the asynchronous run in progress has ended and its
  /// `OnDone` ran.
  void Wait() { FAsync->Wait(); }
  /// The answers of the last asynchronous run, as `Execute` returned them.
  const String& Answer() const { return FAnswer; }
  /// The query text of a step; the base returns empty (nothing is sent, the engine only reads).
  virtual String GetQuery();
  /// The header block appended to a non-empty query: the proxy's credential lines when the
  /// connection goes to a proxy, "Proxy-Connection: Keep-Alive" without `UseProxy`, then an
  /// empty line.
  virtual String GetRawHeaders();
  /// With `LoginPrompt` and a connection that goes to a proxy, shows the logon prompt for the
  /// proxy's user name and password and keeps what the user confirms. Each step runs it before
  /// its query is built, so the step's request already carries the confirmed credentials.
  void AskProxyLogon();
  /// Opens the connection unless open (to the proxy or to the server), and with `tlsImplicit`
  /// shakes hands. Raises `Exception` "Host/Address is not defined." (or, when TLS is asked
  /// for through a proxy, "TLS through a proxy is not supported.") or the socket's
  /// `ESocketError` (a refused certificate names the reason).
  virtual void Connect();
  /// Closes the connection when open (the disconnected notification fires).
  virtual void Disconnect();
  /// Whether `S` has the form of a dotted IPv4 address: four pieces 0..255 and no fifth
  /// number ("1.2.3.4.x" passes, "1.2.3.4." does not).
  static bool AddrIsIP(const String& S);
  /// The message that the last `Execute` returned (or raised) in place of the answers; empty
  /// after a cycle that completed.
  const String& LastError() const { return FLastError; }
  /// Whether the socket is connected (from its connected notification to its disconnected or
  /// error notification).
  bool Connected() const { return FConnected; }
  /// The kind of socket connection (blocking or not) used for the next run.
  platform::TClientType ClientType() const;
  /// Sets `ClientType`.
  void SetClientType(platform::TClientType value);

  /// Always empty; writing discards the value.
  String About() const { return FAbout; }
  /// Sets `About`.
  void SetAbout(const String&) {}
  /// The socket's port.
  Integer Port() const;
  /// Sets `Port`.
  void SetPort(Integer value);
  /// The socket's server name; writing a dotted address puts it in `Address` instead.
  String Host() const;
  /// Sets `Host`.
  void SetHost(const String& value);
  /// The socket's dotted address; writing a name puts it in `Host` instead.
  String Address() const;
  /// Sets `Address`.
  void SetAddress(const String& value);
  /// Whether the connection stays open after a run for the next one.
  bool KeepConnection() const { return FKeepConnection; }
  /// Sets `KeepConnection`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetKeepConnection(bool value) {
    RefuseWriteWhileRunning(*this);
    FKeepConnection = value;
  }
  /// The proxy the connection goes through, owned by the component.
  TQNInetProxy* Proxy() const { return FProxy.get(); }
  /// Copies the given settings into the component's own proxy object.
  void SetProxy(const TQNInetProxy* value);
  /// Whether a run asks the user for the user name and password when the server wants them.
  bool LoginPrompt() const { return FLoginPrompt; }
  /// Sets `LoginPrompt`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLoginPrompt(bool value) {
    RefuseWriteWhileRunning(*this);
    FLoginPrompt = value;
  }
  /// Milliseconds that the connect and each wait for data may take (default 60000); 0 waits
  /// as long as the platform does.
  Integer Timeout() const { return FTimeout; }
  /// Sets `Timeout`.
  void SetTimeout(Integer value);
  /// Bytes that the answer of one step may hold (default 64 MiB); past it the step fails with
  /// `strQNInEAnswerTooLarge`. 0 sets no limit.
  Integer MaxAnswerSize() const { return FMaxAnswerSize; }
  /// Sets `MaxAnswerSize`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetMaxAnswerSize(Integer value) {
    RefuseWriteWhileRunning(*this);
    FMaxAnswerSize = value < 0 ? 0 : value;
  }
  /// Seconds that one `Execute` may take in all, connect and every step included (default 0:
  /// no bound); past it the cycle fails with `strQNInETimeLimit`. `Timeout` still bounds each
  /// wait.
  Integer MaxTime() const { return FMaxTime; }
  /// Sets `MaxTime`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetMaxTime(Integer value) {
    RefuseWriteWhileRunning(*this);
    FMaxTime = value < 0 ? 0 : value;
  }
  /// Whether the connection uses TLS: none, from the start, or upgraded after connecting.
  TQNITLSMode UseTLS() const { return FUseTLS; }
  /// Sets `UseTLS`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  virtual void SetUseTLS(TQNITLSMode value) {
    RefuseWriteWhileRunning(*this);
    FUseTLS = value;
  }
  /// A PEM file of certificate authorities trusted besides the system's store.
  const String& CAFile() const { return FCAFile; }
  /// Sets `CAFile`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetCAFile(const String& value) {
    RefuseWriteWhileRunning(*this);
    FCAFile = value;
  }
  /// Whether the open connection is a TLS session.
  bool TLSActive() const;

  /// Called when the socket has connected.
  const TSocketNotifyEvent& OnConnect() const { return FOnConnect; }
  /// Sets the `OnConnect` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnConnect(TSocketNotifyEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnConnect = std::move(value);
  }
  /// Called when the socket has disconnected.
  const TSocketNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
  /// Sets the `OnDisconnect` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnDisconnect(TSocketNotifyEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnDisconnect = std::move(value);
  }
  /// Called when the socket reports an error; the handler may clear the error code.
  const TSocketErrorEvent& OnError() const { return FOnError; }
  /// Sets the `OnError` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnError(TSocketErrorEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnError = std::move(value);
  }
  /// Called before the server's name is looked up.
  const TSocketNotifyEvent& OnLookup() const { return FOnLookup; }
  /// Sets the `OnLookup` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnLookup(TSocketNotifyEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnLookup = std::move(value);
  }
  /// Called when the socket starts to connect to the looked-up address.
  const TSocketNotifyEvent& OnConnecting() const { return FOnConnecting; }
  /// Sets the `OnConnecting` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnConnecting(TSocketNotifyEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnConnecting = std::move(value);
  }
  /// Also handed to the socket's ready-to-write notification.
  const TSocketNotifyEvent& OnSendTextToSocket() const { return FOnSendTextToSocket; }
  /// Sets the `OnSendTextToSocket` handler.
  void SetOnSendTextToSocket(TSocketNotifyEvent value);
  /// Also handed to the socket's data-ready-to-read notification.
  const TSocketNotifyEvent& OnReceiveTextFromSocket() const { return FOnReceiveTextFromSocket; }
  /// Sets the `OnReceiveTextFromSocket` handler.
  void SetOnReceiveTextFromSocket(TSocketNotifyEvent value);
  /// Called at the start of `Execute`, before connecting.
  const TNotifyEvent& OnBeforeExecute() const { return FOnBeforeExecute; }
  /// Sets the `OnBeforeExecute` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnBeforeExecute(TNotifyEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnBeforeExecute = std::move(value);
  }
  /// Called at the end of `Execute` with the answer received.
  const TQNIReceivedEvent& OnAfterExecute() const { return FOnAfterExecute; }
  /// Sets the `OnAfterExecute` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnAfterExecute(TQNIReceivedEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnAfterExecute = std::move(value);
  }
  /// A run's account of itself, as curl -v gives it, for a log. After each TLS handshake three
  /// `trInfo` lines: "TLS 1.3 connection using CIPHER", "Server certificate: subject: NAME" and
  /// "Server certificate: issuer: NAME". A protocol that traces its dialogue (the mail sender)
  /// adds each command (`trSent`; a credential or token in it reads "***"), each reply line
  /// (`trReceived`) and its message data (`trData`). Delivered where the other events are (on
  /// the starting thread of an asynchronous run); a run-time hook, not published.
  const TQNITraceEvent& OnTrace() const { return FOnTrace; }
  /// Sets `OnTrace`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnTrace(TQNITraceEvent value) {
    RefuseWriteWhileRunning(*this);
    FOnTrace = std::move(value);
  }
  /// After an asynchronous run, on the thread that started it.
  const TQNIDoneEvent& OnDone() const { return FOnDone; }
  /// Sets the `OnDone` handler.
  void SetOnDone(TQNIDoneEvent value) { FOnDone = std::move(value); }

protected:
  /// A descendant's own part of making the connection (a TLS handshake) failed: the cycle's
  /// failure is the connect's, and `Execute` raises it.
  void ConnectionNotMade() { FReached = false; }
  /// Cancels an asynchronous run in progress and joins its worker; a descendant whose members
  /// the run uses calls it first in its destructor (a component on the stack is destroyed from
  /// the most derived class up, before the base could stop the run).
  void StopAsyncRun() noexcept;
  /// One step: AskProxyLogon, GetQuery + GetRawHeaders, send, read to the close in 16386-byte
  /// reads. Returns the answer ("No answer from server" when sending failed). Raises the
  /// message-table errors for status 401, 404 or 407 in a first chunk that begins with "HTTP/", and the
  /// socket's errors.
  virtual String InternalExecute();
  /// Calls OnBeforeExecute.
  virtual void BeforeExecute();
  /// Calls OnAfterExecute(this, Text).
  virtual void AfterExecute(String& Text);
  /// Notes a warning in `LastError` for a cycle that still succeeded.
  void SetLastError(const String& Text) {
    RefuseWriteWhileRunning(*this);
    FLastError = Text;
  }
  /// Sends each character as one byte (its low 8 bits); returns the count sent (<= 0 failure).
  /// A peer that takes nothing within `Timeout` raises `ESocketError` "ENDPOINT: timed out
  /// sending data after N s".
  Integer SendToSocket(const String& S);
  /// Reads up to `Count` bytes; returns the count read, 0 at the peer's close, < 0 on error.
  /// A peer that sends nothing within `Timeout` raises `ESocketError` "ENDPOINT: timed out
  /// waiting for data after N s".
  Integer ReceiveFromSocket(void* Buffer, Integer Count);
  /// Whether the last send or receive failed because its wait ran out (a descendant names
  /// what it waited for, as the mail sender does for the greeting).
  bool WaitTimedOut() const { return FWaitTimedOut; }
  /// Reads until `Rule` holds a whole answer (`receive_framed` over `ReceiveFromSocket`);
  /// raises the socket's errors, and `strQNInEAnswerTooLarge` once more than `MaxAnswerSize`
  /// bytes arrived.
  TReceiveEnd ReceiveFramed(TFramingRule& Rule);
  /// "ENDPOINT: TEXT" for the endpoint the socket is aimed at (the proxy's when it goes there).
  String AtSocketEndpoint(const String& Text) const;
  /// Sets `UseTLS`; switching to or from `tlsImplicit` moves the port between `plainPort` and
  /// `tlsPort` when it holds the other mode's default.
  void SetUseTLSMovingPort(TQNITLSMode value, Integer plainPort, Integer tlsPort);
  /// Turns the open connection into a TLS session with the server (for an upgrade command);
  /// raises the socket's `ESocketError` when the handshake or the certificate fails.
  void StartTLS();
  /// The local host name that the socket reports.
  String GetLocalHost();
  /// The socket of the run in progress, or none.
  platform::TClientSocket* ClientSocket() const { return FClientSocket; }
  /// Whether `OnTrace` is set: a descendant builds trace text only then.
  bool Tracing() const { return static_cast<bool>(FOnTrace); }
  /// Hands one line to `OnTrace` when it is set.
  void Trace(TQNITraceKind Kind, const String& Text);

  /// The cap on an answer's size in bytes unless a component sets another.
  static constexpr Integer kDefaultMaxAnswerSize = 64 << 20;

  /// The step of a multi-step exchange in progress, from 0.
  Integer CurrentStep = 0;
  /// The number of steps of the exchange.
  Integer StepCount = 1;
  /// The host the application wrote.
  String FHost, FAddress;  ///< what the application wrote
  /// The port the application wrote; 0 for the component's default.
  Integer FPort = 0;

private:
  void DoLookup(TObject* Sender, platform::TClientSocket* Socket);
  void DoConnecting(TObject* Sender, platform::TClientSocket* Socket);
  void DoConnect(TObject* Sender, platform::TClientSocket* Socket);
  void DoDisconnect(TObject* Sender, platform::TClientSocket* Socket);
  void DoError(TObject* Sender, platform::TClientSocket* Socket, TErrorEvent ErrorEvent, Integer& ErrorCode);
  /// Traces what the handshake that just succeeded negotiated.
  void DoTLSStart(platform::TClientSocket* Socket);
  /// Whether the connection goes to the proxy rather than to the server.
  bool goes_to_proxy() const;
  void point_socket_at(const String& host, const String& address, Integer port);
  /// Runs one socket wait under the time left of `MaxTime`: the wait is shortened to it, and a
  /// wait that ends past it raises `strQNInETimeLimit` whatever the socket said.
  template <class TWaitCall>
  auto bounded(TWaitCall wait);
  /// Raises the failure of a send or receive whose wait ran out as that wait, not as the
  /// connect's "Connection timed out"; returns for any other failure.
  void raise_wait_time_out(const Exception& failure, bool sending);

  platform::TClientSocket* FClientSocket = nullptr;  // owned as a component
  String FAbout;
  bool FConnected = false;
  bool FKeepConnection = false;
  std::unique_ptr<TQNInetProxy> FProxy;
  bool FLoginPrompt = true;
  Integer FTimeout = 60000;
  Integer FMaxAnswerSize = kDefaultMaxAnswerSize;
  Integer FMaxTime = 0;
  std::optional<std::chrono::steady_clock::time_point> FDeadline;  ///< while an Execute runs
  bool FRunning = false;                                           ///< while an Execute runs
  bool FReached = false;       ///< this cycle's connection was made: later failures are reported
  bool FWaitTimedOut = false;  ///< the last send or receive ran out of time
  String FLastError;
  TQNITLSMode FUseTLS = tlsNone;
  String FCAFile;
  TSocketNotifyEvent FOnConnect, FOnDisconnect;
  TSocketErrorEvent FOnError;
  TSocketNotifyEvent FOnLookup, FOnConnecting, FOnSendTextToSocket, FOnReceiveTextFromSocket;
  TNotifyEvent FOnBeforeExecute;
  TQNIReceivedEvent FOnAfterExecute;
  TQNIDoneEvent FOnDone;
  TQNITraceEvent FOnTrace;
  String FAnswer;
  std::atomic<bool> FCancelled{false};
  std::unique_ptr<TAsyncRunner> FAsync;
};

/// The status that the engine reads from the first chunk of an answer: the three characters
/// after its first blank as a number, 200 when they are none (or there is no blank).
QNINET_API Integer first_chunk_status(StringView chunk);

/// Closes a connection that a failed cycle left open when `KeepConnection` is off, so the next
/// `Execute` connects afresh (the HTTP client and the page scrapers call it first in each cycle).
QNINET_API void drop_stale_connection(TQNInetBase& Component);

}  // namespace qninet
