// Member compression for the writer: a zlib stream made of independently
// compressed blocks, so that memory stays bounded whatever a member's size
// and several blocks (of one member, or of the members that follow it) can
// be compressed on several cores at once.
//
// A member is cut into blocks of kDeflateBlockSize input bytes. Each block
// is a raw deflate stream at the default level, primed with the last 32 KB
// of the block before it (so the ratio is that of one stream) and ended by
// a sync flush, except the last, which ends the stream. The blocks follow
// the two-byte zlib header and are followed by the Adler-32 of the whole
// member: any zlib inflater reads the result as one stream. A member of one
// block gives exactly the bytes of zlib's compress(). The cut depends only
// on the input, never on the number of threads, so every job count gives
// the same bytes.
//
// All file access stays on the caller's thread; the worker threads only
// compress memory.
#ifndef CRX_ENGINE_DEFLATE_BLOCKS_H
#define CRX_ENGINE_DEFLATE_BLOCKS_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace crx {

class File;
class FileSystem;

inline constexpr size_t kDeflateBlockSize = 256 * 1024;
inline constexpr size_t kDeflateWindow = 32 * 1024;

// One block as raw deflate at the default level, primed with dictionary
// (may be empty), ended with a sync flush or, when last, with the end of
// the stream. Appends to *out. False only when zlib fails.
bool DeflateBlock(const uint8_t* dictionary, size_t dictionary_size, const uint8_t* in,
                  size_t size, bool last, std::vector<uint8_t>* out);

// The number of compression threads: CRX_JOBS when it is a number from 1
// to 64 (else *bad_value receives it), otherwise the machine's cores.
int DeflateJobs(const std::string* crx_jobs, std::string* bad_value);

// What one member's compression ended with.
enum class DeflateOutcome {
  kOk,
  kShortRead,   // the source gave fewer bytes than its size (*got says how many)
  kReadError,   // reading the source failed
  kQuit,        // the quit check asked to stop
  kZlibError,   // zlib refused
  kSinkFailed,  // the sink refused a piece (a failed write)
};

class DeflatePipeline {
 public:
  // jobs 1 compresses on the caller's thread; more start that many workers.
  DeflatePipeline(FileSystem& files, int jobs);
  ~DeflatePipeline();
  DeflatePipeline(const DeflatePipeline&) = delete;
  DeflatePipeline& operator=(const DeflatePipeline&) = delete;

  int jobs() const { return jobs_; }

  // The files that will probably be compressed next, in order (the files of
  // a folder walk). While a member is being compressed, the blocks of these
  // are read and compressed ahead, within the same bounded number of blocks
  // in flight. A planned file that is never asked for costs only its
  // reading; one asked for out of order is compressed afresh.
  void Plan(const std::vector<std::string>& paths);
  // Forgets the plan and everything read ahead for it.
  void ClearPlan();

  // The handle by which a planned file was read ahead, when all of it was
  // read and its size is unchanged, for the caller to use as the member's
  // own handle (it is positioned at the end) instead of opening the file a
  // second time; null otherwise. The caller hands it back to Compress.
  std::unique_ptr<File> TakeReadAhead(const std::string& path);

  // Compresses size bytes of the member at path into a zlib stream, handing
  // the compressed bytes to sink in order. file is the caller's open handle
  // to it, read from when the member was not read ahead (or its size
  // changed since). quit is asked between blocks. *got receives the input
  // bytes read; *compressed the bytes handed to sink.
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;
  DeflateOutcome Compress(const std::string& path, File& file, int64_t size, const Sink& sink,
                          const std::function<bool()>& quit, int64_t* got,
                          int64_t* compressed);

 private:
  struct Block {
    std::vector<uint8_t> input;  // dictionary bytes, then the block's own bytes
    size_t dictionary = 0;
    bool last = false;
    std::vector<uint8_t> output;
    uint32_t adler = 1;  // Adler-32 of the block's own bytes
    size_t own = 0;      // the block's own byte count
    bool done = false;
    bool ok = false;
  };
  // A source being read: a planned file read ahead, or the member itself.
  struct Source {
    std::string path;
    std::unique_ptr<File> owned;  // a handle opened for reading ahead
    File* file = nullptr;
    int64_t size = 0;
    int64_t read = 0;
    bool opened = false;       // opened for reading ahead (the handle may be lent out)
    bool unavailable = false;  // could not be opened or read ahead
    bool read_failed = false;
    bool short_read = false;
    std::vector<uint8_t> tail;  // the last kDeflateWindow bytes read
    std::deque<std::shared_ptr<Block>> blocks;  // submitted, not yet handed out
  };

  // Reads and submits the next block of source; false at its end or on a
  // read failure (recorded in the source).
  bool ReadBlock(Source& source);
  // Reads ahead of the current member while fewer than the allowed blocks
  // are in flight.
  void ReadAhead();
  void OpenPlanned(Source& source);
  void Submit(const std::shared_ptr<Block>& block);
  void Wait(const std::shared_ptr<Block>& block);
  void DropPlanned(size_t count);
  size_t InFlight() const;
  void WorkerMain();
  static void Run(Block& block);

  FileSystem& files_;
  int jobs_;
  size_t max_in_flight_;
  const File* lent_ = nullptr;  // the handle TakeReadAhead gave out last
  size_t in_flight_ = 0;  // blocks submitted and not yet handed out

  std::deque<std::unique_ptr<Source>> plan_;
  std::unordered_map<std::string, uint64_t> plan_index_;  // path -> sequence number
  uint64_t plan_front_ = 0;  // sequence number of plan_.front()

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  std::deque<std::shared_ptr<Block>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace crx

#endif  // CRX_ENGINE_DEFLATE_BLOCKS_H
