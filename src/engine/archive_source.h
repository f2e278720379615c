// The archive file as the reader's decoders see it (archive_reader.cpp and
// volume_reader.cpp, which goes on in further volume files).
#ifndef CRX_ENGINE_ARCHIVE_SOURCE_H
#define CRX_ENGINE_ARCHIVE_SOURCE_H

#include <algorithm>
#include <cstdint>

#include "engine/format.h"
#include "platform/platform.h"

namespace crx {

// The archive file as the decoders see it. It knows the file's length, so
// every length read from the archive can be held against what remains.
//
// The records are read a few bytes at a time, so small reads are served
// from a buffer that is filled kReadAhead bytes at a time, never past the
// length the source was given; reads of a buffer's size or more (member
// data) go straight to the file once the buffer is used up.

class ArchiveSource : public ByteSource {
 public:
  static constexpr size_t kReadAhead = 64 * 1024;

  ArchiveSource(File& file, int64_t size, int64_t position)
      : file_(file), size_(size), position_(position) {}

  bool Read(void* buffer, size_t size, size_t* got) override {
    *got = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    // A failure after some bytes arrived shows on the next read.
    auto failed = [&] {
      if (*got == 0) return false;
      error_ = 0;
      return true;
    };
    while (*got < size) {
      if (next_ == end_) {
        const size_t want = size - *got;
        if (want >= kReadAhead) {
          // Large reads skip the buffer.
          size_t n = 0;
          if (!FromFile(out + *got, want, &n)) return failed();
          *got += n;
          break;
        }
        if (!Fill()) return failed();
        if (next_ == end_) break;  // the end of the file
      }
      const size_t n = std::min(size - *got, end_ - next_);
      std::copy_n(buffer_ + next_, n, out + *got);
      next_ += n;
      *got += n;
      position_ += static_cast<int64_t>(n);
    }
    error_ = 0;
    return true;
  }
  int64_t Position() override { return position_; }
  int64_t Remaining() override { return std::max<int64_t>(size_ - position_, 0); }
  uint32_t ErrorCode() override { return error_; }

  // Moves the read position distance bytes forward.
  bool Skip(int64_t distance) {
    const int64_t buffered = static_cast<int64_t>(end_ - next_);
    if (distance >= 0 && distance <= buffered) {
      next_ += static_cast<size_t>(distance);
      position_ += distance;
      return true;
    }
    // The file is ahead of the read position by what is buffered.
    int64_t position = 0;
    if (!file_.Seek(distance - buffered, SeekFrom::kCurrent, &position)) return false;
    next_ = end_ = 0;
    position_ = position;
    return true;
  }

 private:
  // One read of the file (which reads until size bytes or the end).
  bool FromFile(uint8_t* buffer, size_t size, size_t* got) {
    *got = 0;
    if (!file_.Read(buffer, size, got)) {
      error_ = LastError();
      *got = 0;
      return false;
    }
    position_ += static_cast<int64_t>(*got);
    return true;
  }

  bool Fill() {
    // The file position is the read position here.
    const int64_t left = Remaining();
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kReadAhead));
    next_ = end_ = 0;
    if (want == 0) return true;
    size_t n = 0;
    if (!file_.Read(buffer_, want, &n)) {
      error_ = LastError();
      return false;
    }
    end_ = n;
    return true;
  }

  File& file_;
  int64_t size_;
  int64_t position_;  // of the next byte a Read returns
  uint32_t error_ = 0;
  size_t next_ = 0;  // buffer_[next_, end_) is the file from position_ on
  size_t end_ = 0;
  uint8_t buffer_[kReadAhead];  // the source lives on the heap
};

}  // namespace crx

#endif  // CRX_ENGINE_ARCHIVE_SOURCE_H
