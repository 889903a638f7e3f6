// A base for this tree's own sinks: it takes the two long callbacks of
// VoiceEventSink and hands their texts on as one array, and it can mark the
// end of a request.
//
// A QAll entry comes as its eight texts and a QSingle answer as its
// eighteen values, each a parameter of its own. A sink derived from
// RequestSink receives them instead as a QAllEntry (OnEntry) and as
// QSingleValues (OnValues), in the same order, moved and not copied. The
// three short callbacks stay as VoiceEventSink has them.
//
// A sink made with ForOneRequest serves one request: the request holds it
// until its last call has returned (a QAll answer calls it once per entry)
// and then lets it go. Once Issued() has been called, letting it go calls
// OnEnded, exactly once, after every other call of the sink; a command that
// failed with an exception before Issued() ends in that exception instead,
// and OnEnded is not called. A sink made otherwise (the host's sink of a
// controller) never sees OnEnded.
//
// Everything here is inline: the tools and tests that derive from it link
// the library, which exports none of its internals.
#ifndef VOICECONTROL_CONTROLLER_REQUEST_SINK_H_
#define VOICECONTROL_CONTROLLER_REQUEST_SINK_H_

#include <memory>
#include <string>
#include <utility>

#include <voicecontrol/controller/Outcome.h>
#include <voicecontrol/controller/VoiceController.h>
#include "controller/cancel.h"
#include "controller/request_issuer.h"

namespace voicecontrol {
namespace internal {

class RequestSink : public VoiceEventSink {
 public:
  RequestSink(const RequestSink&) = delete;
  RequestSink& operator=(const RequestSink&) = delete;

  // Makes a sink of type Derived for one request. The returned pointer, and
  // every copy the request takes of it, ends the request when the last of
  // them goes.
  template <typename Derived, typename... Args>
  static std::shared_ptr<Derived> ForOneRequest(Args&&... args) {
    return std::shared_ptr<Derived>(new Derived(std::forward<Args>(args)...), EndRequest{});
  }

  // Called once the command has been issued: from then on the request ends
  // in OnEnded.
  void Issued() { issued_ = true; }

  // Lets `registry` cancel the request under `key` until it ends.
  void CancelThrough(std::shared_ptr<CancelRegistry> registry, void* key) {
    cancels_ = std::move(registry);
    cancels_->Add(&cancel_, key);
  }

  // The route of a request that delivers to `self` (this sink, as the
  // pointer ForOneRequest made), with the host's `tag`.
  RequestRoute Route(std::shared_ptr<VoiceEventSink> self, void* tag = nullptr) {
    RequestRoute route;
    route.sink = std::move(self);
    route.tag = tag;
    if (cancels_ != nullptr) route.cancel = &cancel_;
    return route;
  }

  void OnQAllEntry(std::wstring f1, std::wstring f2, std::wstring f3, std::wstring f4,
                   std::wstring f5, std::wstring f6, std::wstring f7,
                   std::wstring f8) final {
    OnEntry(QAllEntry{std::move(f1), std::move(f2), std::move(f3), std::move(f4),
                      std::move(f5), std::move(f6), std::move(f7), std::move(f8)});
  }

  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) final {
    OnValues(QSingleValues{std::move(v1),  std::move(v2),  std::move(v3),  std::move(v4),
                           std::move(v5),  std::move(v6),  std::move(v7),  std::move(v8),
                           std::move(v9),  std::move(v10), std::move(v11), std::move(v12),
                           std::move(v13), std::move(v14), std::move(v15), std::move(v16),
                           std::move(v17), std::move(v18)});
  }

 protected:
  RequestSink() = default;
  ~RequestSink() = default;

  // One entry of a QAll answer.
  virtual void OnEntry(QAllEntry entry) = 0;
  // The answer to QSingle.
  virtual void OnValues(QSingleValues values) = 0;
  // The request is over. It runs inside the release of the last pointer to
  // the sink, which may not throw: an exception must not leave it.
  virtual void OnEnded() {}

 private:
  struct EndRequest {
    template <typename Derived>
    void operator()(Derived* sink) const noexcept {
      RequestSink* const base = sink;
      // No cancel may find the request once its end is being told.
      if (base->cancels_ != nullptr) base->cancels_->Remove(&base->cancel_);
      if (base->issued_) base->OnEnded();
      delete sink;  // as its own type: the base's destructor is not virtual
    }
  };

  bool issued_ = false;
  std::shared_ptr<CancelRegistry> cancels_;
  CancelPoint cancel_;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_REQUEST_SINK_H_
