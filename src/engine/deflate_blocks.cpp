#include "engine/deflate_blocks.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "platform/platform.h"

namespace crx {

namespace {

// The zlib header of a stream with a 32 KB window at the default level, as
// zlib's compress() writes it.
constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};

constexpr int kMaxJobs = 64;

}  // namespace

bool DeflateBlock(const uint8_t* dictionary, size_t dictionary_size, const uint8_t* in,
                  size_t size, bool last, std::vector<uint8_t>* out) {
  z_stream stream{};
  // A raw stream (negative window bits): the zlib header and trailer are
  // written once for the whole member by the pipeline.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return false;
  }
  bool ok = true;
  if (dictionary_size > 0 &&
      deflateSetDictionary(&stream, dictionary, static_cast<uInt>(dictionary_size)) != Z_OK) {
    ok = false;
  }
  size_t position = out->size();
  // Room for the worst case plus the sync flush's empty stored block.
  out->resize(position + deflateBound(&stream, static_cast<uLong>(size)) + 16);
  stream.next_in = const_cast<Bytef*>(in);
  stream.avail_in = static_cast<uInt>(size);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  while (ok) {
    stream.next_out = out->data() + position;
    stream.avail_out = static_cast<uInt>(out->size() - position);
    const int result = deflate(&stream, flush);
    position = out->size() - stream.avail_out;
    if (result == Z_STREAM_ERROR) {
      ok = false;
      break;
    }
    if (last && result == Z_STREAM_END) break;
    // A sync flush is complete once deflate returns with output room left.
    if (!last && stream.avail_in == 0 && stream.avail_out != 0) break;
    if (stream.avail_out == 0) out->resize(out->size() + 4096);
  }
  deflateEnd(&stream);
  out->resize(position);
  return ok;
}

int DeflateJobs(const std::string* crx_jobs, std::string* bad_value) {
  if (crx_jobs && !crx_jobs->empty()) {
    int value = 0;
    bool digits = crx_jobs->size() <= 3;
    for (char c : *crx_jobs) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      value = value * 10 + (c - '0');
    }
    if (digits && value >= 1 && value <= kMaxJobs) return value;
    if (bad_value) *bad_value = *crx_jobs;
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxJobs));
}

// ---------------------------------------------------------------------------
// DeflatePipeline

DeflatePipeline::DeflatePipeline(FileSystem& files, int jobs)
    : files_(files), jobs_(std::clamp(jobs, 1, kMaxJobs)) {
  // One block at a time on the caller's thread; with workers, enough
  // blocks that none waits while the caller writes.
  max_in_flight_ = jobs_ == 1 ? 1 : static_cast<size_t>(jobs_) * 3;
  if (jobs_ > 1) {
    for (int i = 0; i < jobs_; ++i) workers_.emplace_back([this] { WorkerMain(); });
  }
}

DeflatePipeline::~DeflatePipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DeflatePipeline::Run(Block& block) {
  const uint8_t* own = block.input.data() + block.dictionary;
  block.adler = static_cast<uint32_t>(adler32(1L, own, static_cast<uInt>(block.own)));
  block.output.reserve(block.own / 2 + 64);
  block.ok = DeflateBlock(block.input.data(), block.dictionary, own, block.own, block.last,
                          &block.output);
  // The input is not needed any more: keep only the output in flight.
  std::vector<uint8_t>().swap(block.input);
}

void DeflatePipeline::WorkerMain() {
  for (;;) {
    std::shared_ptr<Block> block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping
      block = queue_.front();
      queue_.pop_front();
    }
    Run(*block);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      block->done = true;
    }
    work_done_.notify_all();
  }
}

void DeflatePipeline::Submit(const std::shared_ptr<Block>& block) {
  ++in_flight_;
  if (workers_.empty()) {
    Run(*block);
    block->done = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(block);
  }
  work_ready_.notify_one();
}

void DeflatePipeline::Wait(const std::shared_ptr<Block>& block) {
  if (workers_.empty()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  work_done_.wait(lock, [&] { return block->done; });
}

bool DeflatePipeline::ReadBlock(Source& source) {
  if (source.read_failed || source.short_read || source.read >= source.size) return false;
  auto block = std::make_shared<Block>();
  const size_t own = static_cast<size_t>(
      std::min<int64_t>(static_cast<int64_t>(kDeflateBlockSize), source.size - source.read));
  block->dictionary = source.tail.size();
  block->input.resize(block->dictionary + own);
  std::copy(source.tail.begin(), source.tail.end(), block->input.begin());
  uint8_t* data = block->input.data() + block->dictionary;
  size_t total = 0;
  while (total < own) {
    size_t got = 0;
    if (!source.file->Read(data + total, own - total, &got)) {
      source.read_failed = true;
      source.read += static_cast<int64_t>(total);
      return false;
    }
    if (got == 0) break;
    total += got;
  }
  source.read += static_cast<int64_t>(total);
  if (total < own) {
    source.short_read = true;
    return false;
  }
  block->own = own;
  block->last = source.read == source.size;
  // The next block is primed with the last 32 KB of what was read so far.
  const size_t keep = std::min(kDeflateWindow, block->dictionary + own);
  source.tail.assign(block->input.end() - static_cast<std::ptrdiff_t>(keep),
                     block->input.end());
  // A file read ahead keeps its handle until it is lent to the caller or
  // dropped: at most one per block in flight.
  if (block->last) std::vector<uint8_t>().swap(source.tail);
  source.blocks.push_back(block);
  Submit(block);
  return true;
}

void DeflatePipeline::OpenPlanned(Source& source) {
  if (source.opened || source.unavailable) return;
  source.opened = true;
  source.owned = files_.Open(source.path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  int64_t size = 0;
  if (!source.owned || !source.owned->Size(&size) || size <= 0 ||
      size > std::numeric_limits<int32_t>::max()) {
    source.owned.reset();
    source.unavailable = true;
    return;
  }
  source.size = size;
  source.file = source.owned.get();
}

void DeflatePipeline::ReadAhead() {
  for (std::unique_ptr<Source>& planned : plan_) {
    if (in_flight_ >= max_in_flight_) return;
    Source& source = *planned;
    OpenPlanned(source);
    if (source.unavailable) continue;
    while (in_flight_ < max_in_flight_ && ReadBlock(source)) {
    }
    if (source.read_failed || source.short_read) {
      // Read again, by the member's own handle, when it is asked for.
      in_flight_ -= source.blocks.size();
      source.blocks.clear();
      source.owned.reset();
      source.file = nullptr;
      source.unavailable = true;
    }
    if (source.read < source.size && !source.unavailable) return;  // keep the order
  }
}

void DeflatePipeline::Plan(const std::vector<std::string>& paths) {
  ClearPlan();
  if (workers_.empty()) return;  // one thread: nothing to gain from reading ahead
  for (const std::string& path : paths) {
    auto source = std::make_unique<Source>();
    source->path = path;
    plan_index_[path] = plan_front_ + plan_.size();
    plan_.push_back(std::move(source));
  }
}

void DeflatePipeline::DropPlanned(size_t count) {
  for (size_t i = 0; i < count && !plan_.empty(); ++i) {
    in_flight_ -= plan_.front()->blocks.size();
    auto it = plan_index_.find(plan_.front()->path);
    if (it != plan_index_.end() && it->second == plan_front_) plan_index_.erase(it);
    plan_.pop_front();
    ++plan_front_;
  }
}

void DeflatePipeline::ClearPlan() {
  DropPlanned(plan_.size());
  plan_index_.clear();
}

std::unique_ptr<File> DeflatePipeline::TakeReadAhead(const std::string& path) {
  auto planned = plan_index_.find(path);
  if (planned == plan_index_.end() || planned->second < plan_front_ ||
      planned->second >= plan_front_ + plan_.size()) {
    return nullptr;
  }
  Source& source = *plan_[static_cast<size_t>(planned->second - plan_front_)];
  int64_t size = 0;
  if (!source.owned || source.unavailable || source.read != source.size ||
      !source.owned->Size(&size) || size != source.size) {
    return nullptr;
  }
  // Fully read: the handle is not read from again by the pipeline.
  source.file = nullptr;
  lent_ = source.owned.get();
  return std::move(source.owned);
}

DeflateOutcome DeflatePipeline::Compress(const std::string& path, File& file, int64_t size,
                                         const Sink& sink, const std::function<bool()>& quit,
                                         int64_t* got, int64_t* compressed) {
  *got = 0;
  *compressed = 0;
  const bool lent = &file == lent_;
  lent_ = nullptr;
  // The member read ahead, when it was planned and is still what it was.
  std::unique_ptr<Source> current;
  auto planned = plan_index_.find(path);
  if (planned != plan_index_.end() && planned->second >= plan_front_ &&
      planned->second < plan_front_ + plan_.size()) {
    DropPlanned(static_cast<size_t>(planned->second - plan_front_));
    Source& head = *plan_.front();
    OpenPlanned(head);
    if (!head.unavailable && head.size == size) {
      current = std::move(plan_.front());
      plan_index_.erase(path);
      plan_.pop_front();
      ++plan_front_;
    } else {
      DropPlanned(1);
    }
  }
  if (!current) {
    // A handle lent by TakeReadAhead was read to its end: read it afresh.
    if (lent && !file.Seek(0, SeekFrom::kBegin, nullptr)) return DeflateOutcome::kReadError;
    current = std::make_unique<Source>();
    current->path = path;
    current->file = &file;
    current->size = size;
  }

  // Blocks still in flight are released when the member ends early.
  auto drop_current = [&] {
    in_flight_ -= current->blocks.size();
    current->blocks.clear();
  };

  if (!sink(kZlibHeader, sizeof kZlibHeader)) return DeflateOutcome::kSinkFailed;
  *compressed = sizeof kZlibHeader;
  uLong adler = 1;
  for (;;) {
    if (current->blocks.empty() && !ReadBlock(*current)) {
      *got = current->read;
      if (current->read_failed) return DeflateOutcome::kReadError;
      return DeflateOutcome::kShortRead;
    }
    // The member's own next blocks come first, so that the workers compress
    // them while the caller waits for this one; what room is left goes to
    // the planned files that follow it. A read failure stops the topping
    // up and is reported once the blocks read before it are handed out.
    while (in_flight_ < max_in_flight_ && ReadBlock(*current)) {
    }
    ReadAhead();
    std::shared_ptr<Block> block = current->blocks.front();
    current->blocks.pop_front();
    Wait(block);
    --in_flight_;
    if (!block->ok) {
      drop_current();
      *got = current->read;
      return DeflateOutcome::kZlibError;
    }
    adler = adler32_combine(adler, block->adler, static_cast<z_off_t>(block->own));
    if (!sink(block->output.data(), block->output.size())) {
      drop_current();
      *got = current->read;
      return DeflateOutcome::kSinkFailed;
    }
    *compressed += static_cast<int64_t>(block->output.size());
    if (block->last) break;
    if (quit && quit()) {
      drop_current();
      *got = current->read;
      return DeflateOutcome::kQuit;
    }
  }
  *got = current->read;
  const uint8_t trailer[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                              static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
  if (!sink(trailer, sizeof trailer)) return DeflateOutcome::kSinkFailed;
  *compressed += sizeof trailer;
  return DeflateOutcome::kOk;
}

}  // namespace crx
