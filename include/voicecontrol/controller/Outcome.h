/// @file
/// Commands that return their own outcome: a small layer beside
/// VoiceEventSink for hosts that want to know which answer belongs to which
/// command.
///
/// A VoiceEventSink is told every outcome of its controller, but cannot tell
/// two outstanding commands of the same kind apart. The commands of
/// OutcomeCommands give each request a receiver of its own instead, so that
/// every command yields exactly one Outcome, correlated by construction:
///
/// @code
/// voicecontrol::VoiceController controller(nullptr);  // no sink needed
/// controller.serverAddress = "127.0.0.1";
/// controller.serverPort = 8080;
/// voicecontrol::OutcomeCommands commands(controller);
///
/// std::future<voicecontrol::Outcome> a = commands.QSingle(L"s1");
/// std::future<voicecontrol::Outcome> b = commands.QSingle(L"s2");
/// const voicecontrol::Outcome first = a.get();  // the answer about s1
/// if (const auto* values = first.values()) { ... }
/// else if (const auto* error = first.error()) { ... error->text ... }
///
/// commands.QAll([](const voicecontrol::Outcome& outcome) { ... });
/// @endcode
///
/// Every rule of the controller holds unchanged: the request is sent on
/// the calling thread, the answer awaited on a receive thread of the
/// library, for at most 5 seconds; the error texts are the library's
/// ("connect error.", "timeout.", ...).
#ifndef VOICECONTROL_CONTROLLER_OUTCOME_H_
#define VOICECONTROL_CONTROLLER_OUTCOME_H_

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/export.h>

namespace voicecontrol {

/// The answer to Create (FlowID 1001), Kick (1002), Change (1003) or DsCall
/// (1006).
struct CommandResult {
  int32_t flowId = 0;  ///< The FlowID of the answer: which command it answers.
  int32_t code = 0;    ///< The server's result code.
  std::wstring text;   ///< The server's result text.
};

/// One entry of a QAll answer: its eight texts, in the order of the
/// answer's eight lists. A QAll answer that holds a single entry delivers
/// each text as it travelled, still ending in its list's terminating comma.
using QAllEntry = std::array<std::wstring, 8>;

/// The eighteen values of a QSingle answer, in order.
using QSingleValues = std::array<std::wstring, 18>;

/// A failure of a command.
struct CommandError {
  /// One of the library's error texts: "socket error.", "connect error.",
  /// "send error.", "timeout.", "init http parse.", "decode.",
  /// "param error." or "bad message."; "cancelled." for a command
  /// cancelled through its CancelToken.
  std::wstring text;
  /// The reason behind the text in UTF-8 (what ErrorDetail() said while the
  /// error was reported); empty when the library has none.
  std::string detail;
};

/// The outcome of one command: exactly one of a command result, the
/// entries of a QAll answer, the values of a QSingle answer, or an error.
///
/// Read it through the accessor of its kind: each returns null unless the
/// outcome is of that kind.
class Outcome {
 public:
  /// What an outcome holds.
  enum class Kind {
    kError,    ///< error()
    kResult,   ///< result()
    kEntries,  ///< entries()
    kValues,   ///< values()
  };

  /// An error outcome with an empty text.
  Outcome() = default;

  /// An outcome holding a command result.
  /// @param result the answer to Create, Kick, Change or DsCall
  /// @return the outcome, of kind Kind::kResult
  static Outcome FromResult(CommandResult result) {
    Outcome outcome(Kind::kResult);
    outcome.result_ = std::move(result);
    return outcome;
  }

  /// An outcome holding the entries of a QAll answer.
  /// @param entries the entries in the answer's order; empty for an answer
  ///   that announces none
  /// @return the outcome, of kind Kind::kEntries
  static Outcome FromEntries(std::vector<QAllEntry> entries) {
    Outcome outcome(Kind::kEntries);
    outcome.entries_ = std::move(entries);
    return outcome;
  }

  /// An outcome holding the values of a QSingle answer.
  /// @param values the eighteen values
  /// @return the outcome, of kind Kind::kValues
  static Outcome FromValues(QSingleValues values) {
    Outcome outcome(Kind::kValues);
    outcome.values_ = std::move(values);
    return outcome;
  }

  /// An error outcome.
  /// @param error the error text and its detail
  /// @return the outcome, of kind Kind::kError
  static Outcome FromError(CommandError error) {
    Outcome outcome(Kind::kError);
    outcome.error_ = std::move(error);
    return outcome;
  }

  /// @return what the outcome holds
  Kind kind() const { return kind_; }

  /// @return true unless the outcome is an error
  bool ok() const { return kind_ != Kind::kError; }

  /// @return the command result, or null when the outcome is of another kind
  const CommandResult* result() const { return kind_ == Kind::kResult ? &result_ : nullptr; }

  /// @return the QAll entries (empty: the answer announced none), or null
  ///   when the outcome is of another kind
  const std::vector<QAllEntry>* entries() const {
    return kind_ == Kind::kEntries ? &entries_ : nullptr;
  }

  /// @return the QSingle values, or null when the outcome is of another kind
  const QSingleValues* values() const { return kind_ == Kind::kValues ? &values_ : nullptr; }

  /// @return the error, or null when the outcome is of another kind
  const CommandError* error() const { return kind_ == Kind::kError ? &error_ : nullptr; }

 private:
  explicit Outcome(Kind kind) : kind_(kind) {}

  Kind kind_ = Kind::kError;
  CommandResult result_;
  std::vector<QAllEntry> entries_;
  QSingleValues values_;
  CommandError error_;
};

/// Receives the outcome of one command.
using OutcomeCallback = std::function<void(const Outcome&)>;

/// @cond INTERNAL
namespace internal {
class CancelRegistry;
}  // namespace internal
/// @endcond

/// One of the six commands with its arguments, as a value: what
/// OutcomeCommands::Issue sends.
class Command {
 public:
  /// CREATE with four texts.
  /// @param a first text, e.g. the session's id
  /// @param b second text
  /// @param c third text
  /// @param d fourth text
  /// @return the command
  static Command Create(std::wstring a, std::wstring b, std::wstring c, std::wstring d) {
    return Command(1001, {std::move(a), std::move(b), std::move(c), std::move(d)}, 0);
  }
  /// KICK with two texts.
  /// @param a first text
  /// @param b second text
  /// @return the command
  static Command Kick(std::wstring a, std::wstring b) {
    return Command(1002, {std::move(a), std::move(b)}, 0);
  }
  /// CHANGE with two texts and a number.
  /// @param a first text
  /// @param b second text
  /// @param n the number, sent in decimal
  /// @return the command
  static Command Change(std::wstring a, std::wstring b, uint16_t n) {
    return Command(1003, {std::move(a), std::move(b)}, n);
  }
  /// QALL.
  /// @return the command
  static Command QAll() { return Command(1004, {}, 0); }
  /// QSINGLE with one text.
  /// @param a the text, e.g. a session's id
  /// @return the command
  static Command QSingle(std::wstring a) { return Command(1005, {std::move(a)}, 0); }
  /// DSCALL with two texts and the local date and time `durationSeconds`
  /// from when it is sent.
  /// @param a first text
  /// @param b second text
  /// @param durationSeconds how far from then the sent time lies
  /// @return the command
  static Command DsCall(std::wstring a, std::wstring b, uint32_t durationSeconds) {
    return Command(1006, {std::move(a), std::move(b)}, durationSeconds);
  }

  /// @return the command's FlowID, 1001 (CREATE) to 1006 (DSCALL)
  int32_t flowId() const { return flowId_; }
  /// @return its texts, in order (unused ones are empty)
  const std::array<std::wstring, 4>& texts() const { return texts_; }
  /// @return CHANGE's number or DSCALL's duration; 0 for the others
  uint32_t number() const { return number_; }

 private:
  Command(int32_t flowId, std::array<std::wstring, 4> texts, uint32_t number)
      : flowId_(flowId), texts_(std::move(texts)), number_(number) {}

  int32_t flowId_;
  std::array<std::wstring, 4> texts_;
  uint32_t number_;
};

/// Cancels the commands issued with it through OutcomeCommands::Issue.
///
/// A cancelled command stops at once: its connection is shut down (its
/// connect attempt or its wait for the answer ends) and its outcome is an
/// error with the text "cancelled.", a text reserved to cancelling. The
/// outcome comes, as every outcome does, on the thread that carried the
/// command, not on the one that cancels. A command whose outcome is
/// already being delivered is left as it is.
///
/// Copies share one token: cancelling any copy cancels the commands issued
/// with all of them. It may be cancelled from any thread, also from inside
/// an outcome's callback, and outlive the controller.
class VC_API CancelToken {
 public:
  /// A token with no command yet.
  CancelToken();

  /// Cancels every command issued with this token that is still in flight.
  /// @return how many were cancelled (0: none was in flight any more)
  int Cancel() const;

 private:
  friend class OutcomeCommands;
  std::shared_ptr<internal::CancelRegistry> registry_;
};

/// The six commands of a VoiceController, each returning its own outcome:
/// as a std::future, or through a callback of its own.
///
/// Each command ends in exactly one outcome. A failure found before the
/// command returns ("socket error.", "connect error.", "send error.",
/// "param error.") is delivered on the calling thread before the command
/// returns: the future is then ready, the callback has been called.
/// Everything else arrives on a receive thread of the library, once the
/// whole answer has been read (all entries of a QAll answer at once).
///
/// The commands leave the controller's own VoiceEventSink alone: a
/// controller used only through this class may be constructed with a null
/// sink. They may be called from several threads at once and beside the
/// controller's own commands. Destroying the controller waits for the
/// answers in flight (at most their 5-second time-out) and delivers their
/// outcomes first, so no future is left without its value.
///
/// A callback runs on the thread that delivers the outcome; it must be
/// thread-safe when several commands are in flight, and may issue further
/// commands. It must return (not end its thread) and should not throw: an
/// exception leaving it is dropped.
/// An object of this class only refers to its controller; copies are
/// cheap and any number may exist.
class VC_API OutcomeCommands {
 public:
  /// @param controller the controller that sends the commands; it must
  ///   outlive every call of this object (not the outcomes: those are
  ///   delivered before the controller's destructor returns)
  explicit OutcomeCommands(VoiceController& controller) : controller_(&controller) {}

  /// CREATE: sends a, b, c and d.
  /// @param a first text, e.g. the session's id
  /// @param b second text
  /// @param c third text
  /// @param d fourth text
  /// @return the future outcome: a CommandResult with FlowID 1001, or an error
  std::future<Outcome> Create(const std::wstring& a, const std::wstring& b,
                              const std::wstring& c, const std::wstring& d);
  /// CREATE with a callback.
  /// @param a first text
  /// @param b second text
  /// @param c third text
  /// @param d fourth text
  /// @param done called once with the outcome
  void Create(const std::wstring& a, const std::wstring& b, const std::wstring& c,
              const std::wstring& d, OutcomeCallback done);

  /// KICK: sends a and b.
  /// @param a first text
  /// @param b second text
  /// @return the future outcome: a CommandResult with FlowID 1002, or an error
  std::future<Outcome> Kick(const std::wstring& a, const std::wstring& b);
  /// KICK with a callback.
  /// @param a first text
  /// @param b second text
  /// @param done called once with the outcome
  void Kick(const std::wstring& a, const std::wstring& b, OutcomeCallback done);

  /// CHANGE: sends a, b and the number n.
  /// @param a first text
  /// @param b second text
  /// @param n the number, sent in decimal
  /// @return the future outcome: a CommandResult with FlowID 1003, or an error
  std::future<Outcome> Change(const std::wstring& a, const std::wstring& b, uint16_t n);
  /// CHANGE with a callback.
  /// @param a first text
  /// @param b second text
  /// @param n the number, sent in decimal
  /// @param done called once with the outcome
  void Change(const std::wstring& a, const std::wstring& b, uint16_t n, OutcomeCallback done);

  /// QALL.
  /// @return the future outcome: the entries (none for an answer without
  ///   any), or an error
  std::future<Outcome> QAll();
  /// QALL with a callback.
  /// @param done called once with the outcome, after the last entry
  void QAll(OutcomeCallback done);

  /// QSINGLE: sends a.
  /// @param a the text, e.g. a session's id
  /// @return the future outcome: the eighteen values, or an error
  std::future<Outcome> QSingle(const std::wstring& a);
  /// QSINGLE with a callback.
  /// @param a the text
  /// @param done called once with the outcome
  void QSingle(const std::wstring& a, OutcomeCallback done);

  /// DSCALL: sends a, b and the local date and time `durationSeconds` from
  /// now.
  /// @param a first text
  /// @param b second text
  /// @param durationSeconds how far from now the sent time lies
  /// @return the future outcome: a CommandResult with FlowID 1006, or an error
  std::future<Outcome> DsCall(const std::wstring& a, const std::wstring& b,
                              uint32_t durationSeconds);
  /// DSCALL with a callback.
  /// @param a first text
  /// @param b second text
  /// @param durationSeconds how far from now the sent time lies
  /// @param done called once with the outcome
  void DsCall(const std::wstring& a, const std::wstring& b, uint32_t durationSeconds,
              OutcomeCallback done);

  /// Any command, cancellable through `token`.
  /// @param command the command
  /// @param token cancels it (CancelToken::Cancel) while it is in flight
  /// @return the future outcome
  std::future<Outcome> Issue(const Command& command, const CancelToken& token);
  /// Any command with a callback, cancellable through `token`.
  /// @param command the command
  /// @param token cancels it while it is in flight
  /// @param done called once with the outcome
  void Issue(const Command& command, const CancelToken& token, OutcomeCallback done);

 private:
  VoiceController* controller_;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_OUTCOME_H_
