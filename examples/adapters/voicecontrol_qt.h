// voicecontrol_qt.h: drives a host-driven voicecontrol controller
// (vc_use_host_loop) on a Qt 5 or 6 event loop. Copy it into your project;
// it needs QtCore and no moc.
//
//   vc_use_host_loop(ctl);
//   voicecontrol_qt::Driver driver(ctl);  // in the thread whose loop drives it
//   vc_qall(ctl, tag);                    // from that thread
//   app.exec();                           // callbacks run in its event loop
//
// A QSocketNotifier (Linux) or QWinEventNotifier (Windows) watches the
// controller's descriptor, a single-shot QTimer the deadline of
// vc_next_timeout_ms; either calls vc_process. Destroy the driver before
// the controller; a callback may do both (driver first), also with delete
// on a driver made with new: the notifier's slot then returns untouched.
#ifndef VOICECONTROL_QT_H_
#define VOICECONTROL_QT_H_

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <memory>

#if defined(_WIN32)
#include <QWinEventNotifier>
#include <windows.h>
#else
#include <QSocketNotifier>
#endif

#include <voicecontrol/voicecontrol.h>

namespace voicecontrol_qt {

class Driver {
 public:
  explicit Driver(vc_controller* controller)
      : controller_(controller), alive_(std::make_shared<bool>(true)) {
#if defined(_WIN32)
    notifier_.reset(
        new QWinEventNotifier(reinterpret_cast<HANDLE>(vc_loop_descriptor(controller))));
    QObject::connect(notifier_.get(), &QWinEventNotifier::activated, [this] { Drive(); });
#else
    notifier_.reset(new Notifier(static_cast<qintptr>(vc_loop_descriptor(controller)), this));
#endif
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Drive(); });
    Arm();  // for commands issued before
  }

  ~Driver() { *alive_ = false; }

  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

 private:
#if !defined(_WIN32)
  // Its event rather than its signal, which Qt 5.15 has in two overloads,
  // both private, that a functor cannot tell apart.
  class Notifier : public QSocketNotifier {
   public:
    Notifier(qintptr descriptor, Driver* driver)
        : QSocketNotifier(descriptor, QSocketNotifier::Read), driver_(driver) {}
    bool event(QEvent* event) override {
      if (event->type() != QEvent::SockAct) return QSocketNotifier::event(event);
      driver_->Drive();  // may delete this notifier: nothing after it
      return true;
    }

   private:
    Driver* const driver_;
  };
#endif

  // Runs the callbacks; afterwards `this` is touched only while the
  // driver lives (a callback may have destroyed it).
  void Drive() {
    const std::shared_ptr<bool> alive = alive_;
    vc_process(controller_);
    if (*alive) Arm();
  }

  void Arm() {
    const int32_t ms = vc_next_timeout_ms(controller_);
    if (ms < 0) {
      timer_.stop();
    } else {
      timer_.start(ms);
    }
  }

  vc_controller* const controller_;
  std::shared_ptr<bool> alive_;
#if defined(_WIN32)
  std::unique_ptr<QWinEventNotifier> notifier_;
#else
  std::unique_ptr<Notifier> notifier_;
#endif
  QTimer timer_;
};

}  // namespace voicecontrol_qt

#endif  // VOICECONTROL_QT_H_
