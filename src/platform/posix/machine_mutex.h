// A mutex that every program of one machine shares, with a counter beside
// it: both live in a small file of the machine folder that each program
// maps. Taking the mutex costs no system call while nobody else holds it,
// and a program that dies holding it passes it on to the next taker
// (a robust mutex), which is told so.
#ifndef CRX_PLATFORM_POSIX_MACHINE_MUTEX_H
#define CRX_PLATFORM_POSIX_MACHINE_MUTEX_H

#include <pthread.h>

#include <cstdint>
#include <string>

namespace crx {

class MachineMutex {
 public:
  // Opens (creating it when missing) and maps the file at path. The first
  // program to find the file without a mutex sets one up, under a file lock
  // each program takes once, here.
  explicit MachineMutex(const std::string& path);
  ~MachineMutex();
  MachineMutex(const MachineMutex&) = delete;
  MachineMutex& operator=(const MachineMutex&) = delete;

  // Whether the mutex and the counter are shared with the machine's other
  // programs; false when the file could not be mapped.
  bool Shared() const { return shared_ != nullptr; }
  // The open file (-1 when it could not be opened), for a file lock where
  // the mutex is not shared.
  int Fd() const { return fd_; }

  // Takes the shared mutex; call only when Shared(). Waits at most
  // timeout_ms (no limit when negative) and returns false when it could
  // not be had. A mutex whose holder died is taken over.
  bool Lock(int timeout_ms);
  void Unlock();

  // The shared counter (only when Shared()). Set it only with the mutex
  // held; reading it needs no lock.
  uint64_t Count() const { return __atomic_load_n(&shared_->count, __ATOMIC_ACQUIRE); }
  void SetCount(uint64_t value) { __atomic_store_n(&shared_->count, value, __ATOMIC_RELEASE); }

 private:
  // The layout of the file. The first two fields were the whole file once:
  // a shorter file of that layout is lengthened, its counter starting at 0.
  struct Block {
    uint64_t magic;
    pthread_mutex_t mutex;
    uint64_t count;
  };
  bool Setup();

  int fd_ = -1;
  Block* shared_ = nullptr;
};

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_MACHINE_MUTEX_H
