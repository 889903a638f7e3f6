// Where an answer is read into, by a receive thread or by the host's loop:
// the same bound and the same growth for both.
#ifndef VOICECONTROL_CONTROLLER_ANSWER_BUFFER_H_
#define VOICECONTROL_CONTROLLER_ANSWER_BUFFER_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace voicecontrol {
namespace internal {

// The whole answer must fit, with a terminator, into this many bytes.
constexpr int kResponseCapacity = 81920;
// At most this much is read at once.
constexpr int kReadChunk = 8192;

// Nearly every answer arrives whole within the first read, into room on
// the thread's stack (or inside the loop's record of the request); one that outgrows it
// moves to the heap and is freed with the request, so that no long-lived
// receive thread keeps resident the stack pages of its largest answer.
class AnswerBuffer {
 public:
  AnswerBuffer() { first_[0] = '\0'; }
  // It points into itself.
  AnswerBuffer(const AnswerBuffer&) = delete;
  AnswerBuffer& operator=(const AnswerBuffer&) = delete;

  char* data() { return data_; }
  int size() const { return size_; }

  // Makes room for the next read. False when there is none: the answer has
  // filled the whole capacity (Full()), or the memory for a larger one is
  // not to be had (an answer that cannot be held is as undecodable as one
  // too long).
  bool MakeRoom() {
    if (size_ < capacity_ - 1) return true;
    if (Full()) return false;
    // The whole capacity at once and not zero-filled: only the pages an
    // answer fills are ever touched.
    char* const grown = new (std::nothrow) char[kResponseCapacity];
    if (grown == nullptr) return false;
    std::memcpy(grown, first_, static_cast<size_t>(size_) + 1);
    grown_.reset(grown);
    data_ = grown;
    capacity_ = kResponseCapacity;
    return true;
  }

  // Where the next read goes and how much it may take: never more than one
  // read's worth, and always a byte left for the terminator.
  char* room() { return data_ + size_; }
  bool Full() const { return size_ >= kResponseCapacity - 1; }
  int roomSize() const { return std::min(kReadChunk, capacity_ - 1 - size_); }

  void Received(int count) {
    size_ += count;
    data_[size_] = '\0';
  }

 private:
  char first_[kReadChunk + 1];
  std::unique_ptr<char[]> grown_;
  char* data_ = first_;
  int capacity_ = kReadChunk + 1;
  int size_ = 0;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_ANSWER_BUFFER_H_
