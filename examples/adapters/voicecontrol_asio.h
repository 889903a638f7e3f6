// voicecontrol_asio.h: drives a host-driven voicecontrol controller
// (vc_use_host_loop) on an Asio io_context: standalone Asio by default,
// Boost.Asio with VOICECONTROL_BOOST_ASIO defined. Copy it into your
// project; it needs only the C interface.
//
//   vc_controller* ctl = vc_controller_create(&callbacks, user);
//   vc_use_host_loop(ctl);
//   voicecontrol_asio::Driver driver(io, ctl);   // before the first command
//   vc_qall(ctl, tag);                           // from any handler of io
//   io.run();                                    // callbacks run in io's handlers
//
// The driver waits for the controller's descriptor (Linux: a
// stream_descriptor; Windows: an object_handle on a duplicate of its event)
// and for a steady_timer at vc_next_timeout_ms, and calls vc_process when
// either comes. Issue commands only from io's thread (the handlers of a
// single-threaded io_context, or a strand): the controller belongs to one
// thread at a time.
//
// Destroy the driver before the controller. A callback may destroy both
// (driver first): the handler that called vc_process notices and returns.
#ifndef VOICECONTROL_ASIO_H_
#define VOICECONTROL_ASIO_H_

#include <chrono>
#include <memory>

#include <voicecontrol/voicecontrol.h>

#if defined(VOICECONTROL_BOOST_ASIO)
#include <boost/asio.hpp>
namespace voicecontrol_asio_ns = boost::asio;
using voicecontrol_asio_error = boost::system::error_code;
#else
#include <asio.hpp>
namespace voicecontrol_asio_ns = asio;
using voicecontrol_asio_error = asio::error_code;
#endif

namespace voicecontrol_asio {

class Driver {
 public:
  Driver(voicecontrol_asio_ns::io_context& io, vc_controller* controller)
      : controller_(controller),
        descriptor_(io, Native(controller)),
        timer_(io),
        alive_(std::make_shared<bool>(true)) {
    Wait();
    ArmTimer();
  }

  ~Driver() {
    *alive_ = false;
    timer_.cancel();
#if defined(_WIN32)
    descriptor_.cancel();  // its destructor closes the duplicate, not the controller's event
#else
    descriptor_.cancel();
    descriptor_.release();  // the descriptor stays the controller's
#endif
  }

  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

 private:
#if defined(_WIN32)
  using Descriptor = voicecontrol_asio_ns::windows::object_handle;
  // object_handle closes what it holds: give it a handle of its own.
  static HANDLE Native(vc_controller* controller) {
    HANDLE copy = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(vc_loop_descriptor(controller)),
                      ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return copy;
  }
#else
  using Descriptor = voicecontrol_asio_ns::posix::stream_descriptor;
  static int Native(vc_controller* controller) {
    return static_cast<int>(vc_loop_descriptor(controller));
  }
#endif

  void Wait() {
    std::shared_ptr<bool> alive = alive_;
    auto ready = [this, alive](const voicecontrol_asio_error& error) {
      if (!*alive || error == voicecontrol_asio_ns::error::operation_aborted) return;
      Drive(alive);
    };
#if defined(_WIN32)
    descriptor_.async_wait(ready);
#else
    descriptor_.async_wait(Descriptor::wait_read, ready);
#endif
  }

  void ArmTimer() {
    const int32_t ms = vc_next_timeout_ms(controller_);
    if (ms < 0) {
      timer_.cancel();
      return;
    }
    timer_.expires_after(std::chrono::milliseconds(ms));
    std::shared_ptr<bool> alive = alive_;
    timer_.async_wait([this, alive](const voicecontrol_asio_error& error) {
      if (!*alive || error == voicecontrol_asio_ns::error::operation_aborted) return;
      Drive(alive);
    });
  }

  // Runs the callbacks; afterwards `this` is touched only while the
  // driver lives (a callback may have destroyed it).
  void Drive(const std::shared_ptr<bool>& alive) {
    vc_process(controller_);
    if (!*alive) return;
    // Both waits are made anew: the descriptor's (a wait that fired is
    // spent; one that did not is replaced), and the timer's for the
    // deadline the pass left.
    descriptor_.cancel();
    Wait();
    ArmTimer();
  }

  vc_controller* const controller_;
  Descriptor descriptor_;
  voicecontrol_asio_ns::steady_timer timer_;
  std::shared_ptr<bool> alive_;
};

}  // namespace voicecontrol_asio

#endif  // VOICECONTROL_ASIO_H_
