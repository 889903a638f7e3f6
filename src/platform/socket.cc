// The parts of the sockets that need no system call.
#include "platform/socket.h"

namespace voicecontrol {
namespace platform {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : handle_(other.handle_),
      error_(other.error_),
      nonBlocking_(other.nonBlocking_),
      wakeEvent_(other.wakeEvent_) {
  other.handle_ = kInvalid;
  other.wakeEvent_ = kInvalid;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    error_ = other.error_;
    nonBlocking_ = other.nonBlocking_;
    wakeEvent_ = other.wakeEvent_;
    other.handle_ = kInvalid;
    other.wakeEvent_ = kInvalid;
  }
  return *this;
}

bool TcpSocket::FailWithSystemError(int code) {
  error_.kind = SocketError::Kind::kSystem;
  error_.code = code;
  return false;
}

bool TcpSocket::FailWith(SocketError::Kind kind) {
  error_.kind = kind;
  error_.code = 0;
  return false;
}

}  // namespace platform
}  // namespace voicecontrol
