// The C interface: a thin layer over VoiceController.
//
// Every command gets a sink of its own (TaggedSink) that carries the
// caller's tag and a copy of the callback table, so that an outcome reaches
// the callbacks with the tag of its command, even after the controller has
// been destroyed from inside a callback. The request holds that sink until
// its last call; letting it go then reports on_done (RequestSink::OnEnded).
//
// No exception leaves a function of this file: each body runs inside
// Guarded(), which turns them into vc_status codes. The one thing let
// through is a thread's end: a callback on the calling thread that calls
// pthread_exit unwinds through here, and that must go on.
//
// A command can be cancelled by its tag: its sink holds the request's
// cancel point and links it into the controller's registry (shared with
// the sinks, which may outlive the controller) while the request is in
// flight.
//
// on_error reads the detail of its error with vc_error_detail(): the
// controller makes it readable for the length of the sink's OnError, and
// TaggedSink calls on_error inside that call, on the same thread.
#include <voicecontrol/voicecontrol.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <voicecontrol/controller/RequestObserver.h>
#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/cancel.h"
#include "controller/controller_testing.h"
#include "controller/forced_unwind.h"
#include "controller/host_loop.h"
#include "controller/request_issuer.h"
#include "controller/request_sink.h"
#include "platform/codepage.h"
#include "platform/socket.h"

#ifndef VC_VERSION_TEXT
#error "VC_VERSION_TEXT (the project version) must be defined by the build"
#endif

namespace voicecontrol {
namespace {

// The host's log and event hooks, as the controller's observer.
class HookObserver final : public RequestObserver {
 public:
  vc_log_hook logHook = nullptr;
  void* logUser = nullptr;
  vc_event_hook eventHook = nullptr;
  void* eventUser = nullptr;

  void OnLogRecord(const LogRecord& record) override {
    const vc_log_record out{record.sent ? 1 : 0, record.bytes,
                            static_cast<uint32_t>(record.length), record.tag, record.requestId};
    logHook(logUser, &out);
  }

  void OnRequestEvents(const RequestEvents& events) override {
    vc_request_events out;
    out.request_id = events.requestId;
    out.tag = events.tag;
    out.flow_id = events.flowId;
    out.http_status = events.httpStatus;
    out.queued_us = events.queuedUs;
    out.connect_started_us = events.connectStartedUs;
    out.connected_us = events.connectedUs;
    out.request_written_us = events.requestWrittenUs;
    out.first_answer_byte_us = events.firstAnswerByteUs;
    out.answer_complete_us = events.answerCompleteUs;
    out.outcome_delivered_us = events.outcomeDeliveredUs;
    out.bytes_out = events.bytesOut;
    out.bytes_in = events.bytesIn;
    out.error_text = events.errorText;
    out.error_detail = events.errorDetail;
    eventHook(eventUser, &out);
  }
};

}  // namespace
}  // namespace voicecontrol

struct vc_controller {
  vc_controller(const vc_callbacks* given, void* user)
      : callbacks(given != nullptr ? *given : vc_callbacks{}), user(user) {}

  const vc_callbacks callbacks;
  void* const user;
  std::shared_ptr<voicecontrol::internal::CancelRegistry> cancels =
      std::make_shared<voicecontrol::internal::CancelRegistry>();
  // The hooks as the host set them last, and every set handed to the
  // controller so far: requests in flight keep calling the set they were
  // issued with, so none is changed or freed before the controller goes.
  voicecontrol::HookObserver hooks;
  bool keepLogFiles = false;
  // Shared, so that a drive call of the host's loop can keep them beyond
  // the controller (vc_controller_destroy).
  std::shared_ptr<std::vector<std::unique_ptr<voicecontrol::HookObserver>>> hookSets =
      std::make_shared<std::vector<std::unique_ptr<voicecontrol::HookObserver>>>();
  // Its own sink is never called: every command names a sink of its own.
  // Declared last, so that it is destroyed, waiting for the requests in
  // flight, before the hook sets they use.
  voicecontrol::VoiceController controller{nullptr};

  // Hands the hooks set now to the controller.
  void ObserveHooks() {
    using Controller = voicecontrol::VoiceController;
    unsigned what = 0;
    if (hooks.logHook != nullptr) what |= Controller::kObserveLogRecords;
    if (hooks.eventHook != nullptr) what |= Controller::kObserveRequestEvents;
    if (keepLogFiles) what |= Controller::kObserveKeepLogFiles;
    hookSets->push_back(std::make_unique<voicecontrol::HookObserver>(hooks));
    controller.SetObserver(hookSets->back().get(), what);
  }
};

namespace voicecontrol {
namespace {

std::string Utf8(const std::wstring& text) { return platform::WideToUtf8String(text); }

std::wstring Wide(const char* text) { return platform::Utf8ToWideString(text, std::strlen(text)); }

// Hands wide texts to a callback as an array of UTF-8 strings.
template <size_t Count, typename Call>
void WithUtf8Array(const std::array<std::wstring, Count>& texts, Call call) {
  std::array<std::string, Count> utf8;
  const char* pointers[Count];
  for (size_t i = 0; i < Count; ++i) {
    utf8[i] = Utf8(texts[i]);
    pointers[i] = utf8[i].c_str();
  }
  call(pointers);
}

class TaggedSink final : public internal::RequestSink, public internal::Utf8AnswerSink {
 public:
  TaggedSink(const vc_callbacks& callbacks, void* user, void* tag)
      : callbacks_(callbacks), user_(user), tag_(tag) {}

  void OnError(std::wstring text) override {
    if (callbacks_.on_error != nullptr) callbacks_.on_error(user_, tag_, Utf8(text).c_str());
  }

  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    if (callbacks_.on_command_result == nullptr) return;
    callbacks_.on_command_result(user_, tag_, flowId, code, Utf8(text).c_str());
  }

  void OnQAllEmpty() override {
    if (callbacks_.on_qall_empty != nullptr) callbacks_.on_qall_empty(user_, tag_);
  }

 private:
  void OnEntry(QAllEntry entry) override {
    if (callbacks_.on_qall_entry == nullptr) return;
    WithUtf8Array(entry,
                  [&](const char* const* utf8) { callbacks_.on_qall_entry(user_, tag_, utf8); });
  }

  void OnValues(QSingleValues values) override {
    if (callbacks_.on_qsingle_result == nullptr) return;
    WithUtf8Array(values, [&](const char* const* utf8) {
      callbacks_.on_qsingle_result(user_, tag_, utf8);
    });
  }

  // Answers come this way: their texts as read, with no wide copy between.
  void OnCommandResultUtf8(int32_t flowId, int32_t code, const char* text) override {
    if (callbacks_.on_command_result == nullptr) return;
    callbacks_.on_command_result(user_, tag_, flowId, code, text);
  }

  void OnQAllEntryUtf8(const char* const texts[8]) override {
    if (callbacks_.on_qall_entry != nullptr) callbacks_.on_qall_entry(user_, tag_, texts);
  }

  void OnQSingleUtf8(const char* const values[18]) override {
    if (callbacks_.on_qsingle_result != nullptr) callbacks_.on_qsingle_result(user_, tag_, values);
  }

  // The request has let its sink go: nothing more will be delivered.
  void OnEnded() override {
    if (callbacks_.on_done != nullptr) callbacks_.on_done(user_, tag_);
  }

  const vc_callbacks callbacks_;
  void* const user_;
  void* const tag_;
};

template <typename Body>
VC_CATCHES_FORCED_UNWIND vc_status Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return VC_ERROR_OUT_OF_MEMORY;
  } VC_RETHROW_FORCED_UNWIND catch (...) {
    return VC_ERROR_INTERNAL;
  }
}

bool AnyNull(std::initializer_list<const void*> pointers) {
  for (const void* pointer : pointers) {
    if (pointer == nullptr) return true;
  }
  return false;
}

// Issues one command with a sink of its own. `issue` gets the controller
// and the sink; the texts have been converted before, so that running out
// of memory there leaves nothing sent.
template <typename Issue>
vc_status IssueCommand(vc_controller* controller, void* tag, Issue issue) {
  return Guarded([&] {
    auto sink = internal::RequestSink::ForOneRequest<TaggedSink>(controller->callbacks,
                                                                  controller->user, tag);
    sink->CancelThrough(controller->cancels, tag);
    issue(controller->controller, sink->Route(sink, tag));
    sink->Issued();
    return VC_OK;
  });
}

}  // namespace
}  // namespace voicecontrol

voicecontrol::VoiceController& voicecontrol::internal::ControllerOf(vc_controller* controller) {
  return controller->controller;
}

using voicecontrol::AnyNull;
using voicecontrol::Guarded;
using voicecontrol::IssueCommand;
using voicecontrol::VoiceController;
using voicecontrol::Wide;
using Issuer = voicecontrol::internal::RequestIssuer;
using Sink = Issuer::Sink;

const char* VC_CALL vc_version(void) { return VC_VERSION_TEXT; }

const char* VC_CALL vc_error_detail(void) { return voicecontrol::ErrorDetail(); }

vc_status VC_CALL vc_set_log_directory(const char* utf8_dir) {
  return voicecontrol::SetLogDirectory(utf8_dir) ? VC_OK : VC_ERROR_BAD_DIRECTORY;
}

void VC_CALL vc_disable_logs(void) { voicecontrol::DisableLogs(); }

vc_status VC_CALL vc_set_code_page(const char* name) {
  if (name == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return voicecontrol::SetCodePage(name) ? VC_OK : VC_ERROR_UNKNOWN_CODE_PAGE;
}

vc_controller* VC_CALL vc_controller_create(const vc_callbacks* callbacks, void* user) {
  try {
    return new vc_controller(callbacks, user);
  } catch (...) {  // no host callback runs inside
    return nullptr;
  }
}

void VC_CALL vc_controller_destroy(vc_controller* controller) {
  if (controller == nullptr) return;
  // Destroyed from a callback of a host-driven command: the rest of that
  // command's outcome still comes, its timeline through the hook set it was
  // issued with, so the drive call keeps the sets until it returns.
  using voicecontrol::internal::Transport;
  voicecontrol::internal::HostLoop* loop = Transport::LoopOf(controller->controller);
  if (loop != nullptr) loop->KeepUntilReturn(controller->hookSets);
  // The destructor waits for the requests of the threads in flight, and
  // ends those of the host's loop; it does not throw.
  delete controller;
}

vc_status VC_CALL vc_set_server(vc_controller* controller, const char* ipv4_address,
                                uint16_t port) {
  if (AnyNull({controller, ipv4_address})) return VC_ERROR_NULL_ARGUMENT;
  // A host name would only fail every command later with "connect error.".
  if (!voicecontrol::platform::IsDottedIPv4(ipv4_address)) return VC_ERROR_BAD_ADDRESS;
  return Guarded([&] {
    controller->controller.serverAddress = ipv4_address;
    controller->controller.serverPort = port;
    return VC_OK;
  });
}

vc_status VC_CALL vc_set_timeouts(vc_controller* controller, uint32_t connect_ms,
                                  uint32_t answer_ms) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  const bool set = controller->controller.SetTimeouts(std::chrono::milliseconds(connect_ms),
                                                      std::chrono::milliseconds(answer_ms));
  return set ? VC_OK : VC_ERROR_BAD_TIMEOUT;
}

vc_status VC_CALL vc_cancel(vc_controller* controller, void* tag) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    return controller->cancels->Cancel(tag) > 0 ? VC_OK : VC_ERROR_NOT_IN_FLIGHT;
  });
}

vc_status VC_CALL vc_set_nonblocking_calls(vc_controller* controller, int on) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  controller->controller.SetNonblockingCalls(on != 0);
  return VC_OK;
}

vc_status VC_CALL vc_set_log_hook(vc_controller* controller, vc_log_hook hook, void* user,
                                  int keep_files) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    controller->hooks.logHook = hook;
    controller->hooks.logUser = user;
    controller->keepLogFiles = keep_files != 0;
    controller->ObserveHooks();
    return VC_OK;
  });
}

vc_status VC_CALL vc_set_event_hook(vc_controller* controller, vc_event_hook hook, void* user) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    controller->hooks.eventHook = hook;
    controller->hooks.eventUser = user;
    controller->ObserveHooks();
    return VC_OK;
  });
}

vc_status VC_CALL vc_create(vc_controller* controller, const char* a, const char* b,
                            const char* c, const char* d, void* tag) {
  if (AnyNull({controller, a, b, c, d})) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    const std::wstring wa = Wide(a), wb = Wide(b), wc = Wide(c), wd = Wide(d);
    return IssueCommand(controller, tag, [&](VoiceController& target, const Sink& to) {
      Issuer::Create(target, to, wa, wb, wc, wd);
    });
  });
}

vc_status VC_CALL vc_kick(vc_controller* controller, const char* a, const char* b, void* tag) {
  if (AnyNull({controller, a, b})) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    const std::wstring wa = Wide(a), wb = Wide(b);
    return IssueCommand(controller, tag, [&](VoiceController& target, const Sink& to) {
      Issuer::Kick(target, to, wa, wb);
    });
  });
}

vc_status VC_CALL vc_change(vc_controller* controller, const char* a, const char* b, uint16_t n,
                            void* tag) {
  if (AnyNull({controller, a, b})) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    const std::wstring wa = Wide(a), wb = Wide(b);
    return IssueCommand(controller, tag, [&](VoiceController& target, const Sink& to) {
      Issuer::Change(target, to, wa, wb, n);
    });
  });
}

vc_status VC_CALL vc_qall(vc_controller* controller, void* tag) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return IssueCommand(controller, tag,
                      [&](VoiceController& target, const Sink& to) { Issuer::QAll(target, to); });
}

vc_status VC_CALL vc_qsingle(vc_controller* controller, const char* a, void* tag) {
  if (AnyNull({controller, a})) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    const std::wstring wa = Wide(a);
    return IssueCommand(controller, tag, [&](VoiceController& target, const Sink& to) {
      Issuer::QSingle(target, to, wa);
    });
  });
}

vc_status VC_CALL vc_dscall(vc_controller* controller, const char* a, const char* b,
                            uint32_t duration_seconds, void* tag) {
  if (AnyNull({controller, a, b})) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    const std::wstring wa = Wide(a), wb = Wide(b);
    return IssueCommand(controller, tag, [&](VoiceController& target, const Sink& to) {
      Issuer::DsCall(target, to, wa, wb, duration_seconds);
    });
  });
}

vc_status VC_CALL vc_use_host_loop(vc_controller* controller) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  return Guarded([&] {
    return controller->controller.UseHostLoop() ? VC_OK : VC_ERROR_NO_RESOURCES;
  });
}

intptr_t VC_CALL vc_loop_descriptor(const vc_controller* controller) {
  return controller == nullptr ? -1 : controller->controller.LoopDescriptor();
}

int32_t VC_CALL vc_next_timeout_ms(const vc_controller* controller) {
  return controller == nullptr ? -1 : controller->controller.NextTimeoutMs();
}

vc_status VC_CALL vc_process(vc_controller* controller) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  if (controller->controller.LoopDescriptor() == -1) return VC_ERROR_NOT_HOST_DRIVEN;
  return Guarded([&] {
    controller->controller.Process();
    return VC_OK;
  });
}

vc_status VC_CALL vc_wakeup(vc_controller* controller) {
  if (controller == nullptr) return VC_ERROR_NULL_ARGUMENT;
  if (controller->controller.LoopDescriptor() == -1) return VC_ERROR_NOT_HOST_DRIVEN;
  controller->controller.Wakeup();
  return VC_OK;
}
