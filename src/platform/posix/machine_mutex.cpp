#include "platform/posix/machine_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace crx {

namespace {

// The mark of a set-up mutex. The size of the mutex is part of it: a file
// that a build with another layout of the mutex set up is set up again.
constexpr uint64_t kMagic = 0x4352584c4f434b00u | sizeof(pthread_mutex_t);

}  // namespace

MachineMutex::MachineMutex(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct stat st;
  if (::fstat(fd_, &st) == 0 &&
      (st.st_size >= static_cast<off_t>(sizeof(Block)) ||
       ::ftruncate(fd_, sizeof(Block)) == 0)) {
    void* map = ::mmap(nullptr, sizeof(Block), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map != MAP_FAILED) {
      shared_ = static_cast<Block*>(map);
      if (shared_->magic != kMagic && !Setup()) {
        ::munmap(map, sizeof(Block));
        shared_ = nullptr;
      }
    }
  }
  ::flock(fd_, LOCK_UN);
}

MachineMutex::~MachineMutex() {
  if (shared_) ::munmap(shared_, sizeof(Block));
  if (fd_ >= 0) ::close(fd_);
}

// Called with the file lock held, so no program uses the mutex meanwhile:
// programs use it only once the mark is there.
bool MachineMutex::Setup() {
  pthread_mutexattr_t attr;
  if (::pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            ::pthread_mutex_init(&shared_->mutex, &attr) == 0;
  ::pthread_mutexattr_destroy(&attr);
  if (!ok) return false;
  shared_->count = 0;
  __atomic_store_n(&shared_->magic, kMagic, __ATOMIC_RELEASE);
  return true;
}

bool MachineMutex::Lock(int timeout_ms) {
  int rc;
  if (timeout_ms < 0) {
    rc = ::pthread_mutex_lock(&shared_->mutex);
  } else {
    struct timespec until;
    ::clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += timeout_ms / 1000;
    until.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
    rc = ::pthread_mutex_timedlock(&shared_->mutex, &until);
  }
  if (rc == EOWNERDEAD) {
    ::pthread_mutex_consistent(&shared_->mutex);
    return true;
  }
  return rc == 0;
}

void MachineMutex::Unlock() { ::pthread_mutex_unlock(&shared_->mutex); }

}  // namespace crx
