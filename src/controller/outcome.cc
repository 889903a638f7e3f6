// Commands that return their own outcome (Outcome.h).
//
// Every command gets a sink of its own (OutcomeSink) that gathers what the
// request tells it into one Outcome. The request holds that sink until its
// last call (a QAll answer calls it once per entry) and then lets it go;
// the end of the request (RequestSink::OnEnded) hands the finished outcome
// on, to a promise or to the host's callback. This is the same
// end-of-request signal that the C interface turns into on_done.
#include <voicecontrol/controller/Outcome.h>

#include <memory>
#include <utility>

#include "controller/cancel.h"
#include "controller/request_issuer.h"
#include "controller/request_sink.h"

namespace voicecontrol {
namespace {

using Issuer = internal::RequestIssuer;
using Sink = Issuer::Sink;

// Gathers one request's sink calls into its outcome; `Deliver` is called
// with the outcome once the request has let the sink go.
template <typename Deliver>
class OutcomeSink final : public internal::RequestSink {
 public:
  explicit OutcomeSink(Deliver deliver) : deliver_(std::move(deliver)) {}

  void OnError(std::wstring text) override {
    // The detail is readable only during this call.
    outcome_ = Outcome::FromError(CommandError{std::move(text), ErrorDetail()});
  }

  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    outcome_ = Outcome::FromResult(CommandResult{flowId, code, std::move(text)});
  }

  void OnQAllEmpty() override { gotEntries_ = true; }

 private:
  void OnEntry(QAllEntry entry) override {
    entries_.push_back(std::move(entry));
    gotEntries_ = true;
  }

  void OnValues(QSingleValues values) override {
    outcome_ = Outcome::FromValues(std::move(values));
  }

  void OnEnded() override {
    if (gotEntries_) outcome_ = Outcome::FromEntries(std::move(entries_));
    try {
      deliver_(std::move(outcome_));
    } catch (...) {
      // Only a host callback throws here, and the end of a request has
      // nowhere to send its exception. (A callback that ends its thread
      // cannot be let through either: callbacks must return.)
    }
  }

  Deliver deliver_;
  Outcome outcome_;
  // A QAll answer's entries come one call at a time.
  std::vector<QAllEntry> entries_;
  bool gotEntries_ = false;
};

struct ToPromise {
  std::promise<Outcome> promise;
  void operator()(Outcome&& outcome) { promise.set_value(std::move(outcome)); }
};

struct ToCallback {
  OutcomeCallback done;
  void operator()(Outcome&& outcome) {
    if (done) done(outcome);
  }
};

// Issues one command with a sink of its own. `send` gets the controller
// and the sink.
// `cancels`: the registry of the token the command is issued with; null
// for none.
template <typename Deliver, typename Send>
void Issue(VoiceController& controller, Deliver deliver, const Send& send,
           const std::shared_ptr<internal::CancelRegistry>& cancels = nullptr) {
  auto sink = internal::RequestSink::ForOneRequest<OutcomeSink<Deliver>>(std::move(deliver));
  if (cancels != nullptr) sink->CancelThrough(cancels, nullptr);
  send(controller, sink->Route(sink));
  sink->Issued();
}

template <typename Send>
std::future<Outcome> IssueForFuture(
    VoiceController& controller, const Send& send,
    const std::shared_ptr<internal::CancelRegistry>& cancels = nullptr) {
  ToPromise delivery;
  std::future<Outcome> future = delivery.promise.get_future();
  Issue(controller, std::move(delivery), send, cancels);
  return future;
}

template <typename Send>
void IssueWithCallback(VoiceController& controller, OutcomeCallback done, const Send& send,
                       const std::shared_ptr<internal::CancelRegistry>& cancels = nullptr) {
  Issue(controller, ToCallback{std::move(done)}, send, cancels);
}

// Sends `command` as its own method would.
struct SendCommand {
  const Command& command;
  void operator()(VoiceController& target, const Sink& to) const {
    const auto& texts = command.texts();
    const std::wstring* args[] = {&texts[0], &texts[1], &texts[2], &texts[3]};
    Issuer::ByFlowId(target, to, command.flowId(), args, command.number());
  }
};

}  // namespace

CancelToken::CancelToken() : registry_(std::make_shared<internal::CancelRegistry>()) {}

int CancelToken::Cancel() const { return registry_->Cancel(nullptr); }

std::future<Outcome> OutcomeCommands::Issue(const Command& command, const CancelToken& token) {
  return IssueForFuture(*controller_, SendCommand{command}, token.registry_);
}

void OutcomeCommands::Issue(const Command& command, const CancelToken& token,
                            OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), SendCommand{command}, token.registry_);
}

std::future<Outcome> OutcomeCommands::Create(const std::wstring& a, const std::wstring& b,
                                             const std::wstring& c, const std::wstring& d) {
  return IssueForFuture(*controller_, [&](VoiceController& target, const Sink& to) {
    Issuer::Create(target, to, a, b, c, d);
  });
}

void OutcomeCommands::Create(const std::wstring& a, const std::wstring& b,
                             const std::wstring& c, const std::wstring& d,
                             OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), [&](VoiceController& target, const Sink& to) {
    Issuer::Create(target, to, a, b, c, d);
  });
}

std::future<Outcome> OutcomeCommands::Kick(const std::wstring& a, const std::wstring& b) {
  return IssueForFuture(*controller_, [&](VoiceController& target, const Sink& to) {
    Issuer::Kick(target, to, a, b);
  });
}

void OutcomeCommands::Kick(const std::wstring& a, const std::wstring& b, OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), [&](VoiceController& target, const Sink& to) {
    Issuer::Kick(target, to, a, b);
  });
}

std::future<Outcome> OutcomeCommands::Change(const std::wstring& a, const std::wstring& b,
                                             uint16_t n) {
  return IssueForFuture(*controller_, [&](VoiceController& target, const Sink& to) {
    Issuer::Change(target, to, a, b, n);
  });
}

void OutcomeCommands::Change(const std::wstring& a, const std::wstring& b, uint16_t n,
                             OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), [&](VoiceController& target, const Sink& to) {
    Issuer::Change(target, to, a, b, n);
  });
}

std::future<Outcome> OutcomeCommands::QAll() {
  return IssueForFuture(*controller_,
                        [](VoiceController& target, const Sink& to) { Issuer::QAll(target, to); });
}

void OutcomeCommands::QAll(OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done),
                    [](VoiceController& target, const Sink& to) { Issuer::QAll(target, to); });
}

std::future<Outcome> OutcomeCommands::QSingle(const std::wstring& a) {
  return IssueForFuture(*controller_, [&](VoiceController& target, const Sink& to) {
    Issuer::QSingle(target, to, a);
  });
}

void OutcomeCommands::QSingle(const std::wstring& a, OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), [&](VoiceController& target, const Sink& to) {
    Issuer::QSingle(target, to, a);
  });
}

std::future<Outcome> OutcomeCommands::DsCall(const std::wstring& a, const std::wstring& b,
                                             uint32_t durationSeconds) {
  return IssueForFuture(*controller_, [&](VoiceController& target, const Sink& to) {
    Issuer::DsCall(target, to, a, b, durationSeconds);
  });
}

void OutcomeCommands::DsCall(const std::wstring& a, const std::wstring& b,
                             uint32_t durationSeconds, OutcomeCallback done) {
  IssueWithCallback(*controller_, std::move(done), [&](VoiceController& target, const Sink& to) {
    Issuer::DsCall(target, to, a, b, durationSeconds);
  });
}

}  // namespace voicecontrol
