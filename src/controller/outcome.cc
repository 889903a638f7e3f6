// Commands that return their own outcome (Outcome.h).
//
// Every command gets a sink of its own (OutcomeSink) that gathers what the
// request tells it into one Outcome. The request holds that sink until its
// last call (a QAll answer calls it once per entry) and then lets it go;
// the sink's destructor hands the finished outcome on, to a promise or to
// the host's callback. This is the same end-of-request signal that the C
// interface turns into on_done.
#include <voicecontrol/controller/Outcome.h>

#include <memory>
#include <utility>

#include "controller/request_issuer.h"

namespace voicecontrol {
namespace {

using Issuer = internal::RequestIssuer;
using Sink = Issuer::Sink;

// Gathers one request's sink calls into its outcome; `Deliver` is called
// with the outcome once the request has let the sink go.
template <typename Deliver>
class OutcomeSink final : public VoiceEventSink {
 public:
  explicit OutcomeSink(Deliver deliver) : deliver_(std::move(deliver)) {}

  ~OutcomeSink() {
    if (!issued_) return;  // the command failed with an exception instead
    if (gotEntries_) outcome_ = Outcome::FromEntries(std::move(entries_));
    try {
      deliver_(std::move(outcome_));
    } catch (...) {
      // Only a host callback throws here, and a destructor has nowhere to
      // send its exception. (A callback that ends its thread cannot be
      // let through a destructor either: callbacks must return.)
    }
  }
  OutcomeSink(const OutcomeSink&) = delete;
  OutcomeSink& operator=(const OutcomeSink&) = delete;

  // Called once the command has been issued: from then on the request ends
  // in an outcome.
  void Issued() { issued_ = true; }

  void OnError(std::wstring text) override {
    // The detail is readable only during this call.
    outcome_ = Outcome::FromError(CommandError{std::move(text), ErrorDetail()});
  }

  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    outcome_ = Outcome::FromResult(CommandResult{flowId, code, std::move(text)});
  }

  void OnQAllEmpty() override { gotEntries_ = true; }

  void OnQAllEntry(std::wstring f1, std::wstring f2, std::wstring f3, std::wstring f4,
                   std::wstring f5, std::wstring f6, std::wstring f7, std::wstring f8) override {
    entries_.push_back(QAllEntry{std::move(f1), std::move(f2), std::move(f3), std::move(f4),
                                 std::move(f5), std::move(f6), std::move(f7), std::move(f8)});
    gotEntries_ = true;
  }

  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) override {
    outcome_ = Outcome::FromValues(QSingleValues{
        std::move(v1), std::move(v2), std::move(v3), std::move(v4), std::move(v5),
        std::move(v6), std::move(v7), std::move(v8), std::move(v9), std::move(v10),
        std::move(v11), std::move(v12), std::move(v13), std::move(v14), std::move(v15),
        std::move(v16), std::move(v17), std::move(v18)});
  }

 private:
  Deliver deliver_;
  Outcome outcome_;
  // A QAll answer's entries come one call at a time.
  std::vector<QAllEntry> entries_;
  bool gotEntries_ = false;
  bool issued_ = false;
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
template <typename Deliver, typename Send>
void Issue(VoiceController& controller, Deliver deliver, const Send& send) {
  auto sink = std::make_shared<OutcomeSink<Deliver>>(std::move(deliver));
  send(controller, Sink(sink));
  sink->Issued();
}

template <typename Send>
std::future<Outcome> IssueForFuture(VoiceController& controller, const Send& send) {
  ToPromise delivery;
  std::future<Outcome> future = delivery.promise.get_future();
  Issue(controller, std::move(delivery), send);
  return future;
}

template <typename Send>
void IssueWithCallback(VoiceController& controller, OutcomeCallback done, const Send& send) {
  Issue(controller, ToCallback{std::move(done)}, send);
}

}  // namespace

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
