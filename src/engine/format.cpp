// Encoding of the archive records, checksums, counts and the archive probe.
#include "engine/format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace crx {

void AppendU16(Bytes* out, uint16_t value) {
  uint8_t bytes[2];
  EncodeU16(value, bytes);
  out->insert(out->end(), bytes, bytes + 2);
}

void AppendU32(Bytes* out, uint32_t value) {
  uint8_t bytes[4];
  EncodeU32(value, bytes);
  out->insert(out->end(), bytes, bytes + 4);
}

void AppendI32(Bytes* out, int32_t value) { AppendU32(out, static_cast<uint32_t>(value)); }

namespace {

// A string with its terminating zero byte.
void AppendText(Bytes* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
}

}  // namespace

int64_t MemberDataSize(const MemberHeader& member, bool encrypted) {
  switch (KindOf(member)) {
    case MemberKind::kEmpty:
      return 0;
    case MemberKind::kStored:
      return member.size;
    case MemberKind::kCompressed:
      return encrypted ? 2 * static_cast<int64_t>(member.compressed_size) : member.compressed_size;
  }
  return 0;
}

void AppendIdentificationRecord(const IdentificationRecord& record, Bytes* out) {
  AppendU32(out, MAGIC);
  AppendU32(out, HEADER_ID);
  AppendU32(out, record.version);
  AppendI32(out, record.block_size);
  AppendI32(out, record.block_count);
  AppendI32(out, record.file_count);
  const SystemTime& t = record.created;
  for (uint16_t field :
       {t.year, t.month, t.day_of_week, t.day, t.hour, t.minute, t.second, t.milliseconds}) {
    AppendU16(out, field);
  }
  AppendI32(out, static_cast<int32_t>(record.password_digest.size() + 1));
  AppendText(out, record.password_digest);
  if (record.HasReservedBlock()) out->insert(out->end(), kReservedBytes, 0);
}

int32_t SetupInfoLength(const SetupInfo& setup) {
  size_t total = setup.company.size() + setup.product.size() + setup.description.size() +
                 setup.setup_program.size() + setup.wait_program.size() + 5;
  return static_cast<int32_t>(total);
}

void AppendTypeRecord(const TypeRecord& record, Bytes* out) {
  AppendU32(out, MAGIC);
  AppendU32(out, TYPE_ID);
  AppendU32(out, record.archive_type);
  if (!record.IsSetup()) return;
  const SetupInfo& setup = record.setup;
  AppendI32(out, SetupInfoLength(setup));
  for (const std::string* text : {&setup.company, &setup.product, &setup.description,
                                  &setup.setup_program, &setup.wait_program}) {
    AppendText(out, *text);
  }
}

bool AppendMemberHeader(const MemberHeader& member, Bytes* out) {
  if (member.name.empty() || member.name.size() + 1 > static_cast<size_t>(kMaxMemberNameLength)) {
    return false;
  }
  AppendU32(out, MAGIC);
  AppendU32(out, FILE_ID);
  AppendI32(out, static_cast<int32_t>(member.name.size() + 1));
  AppendText(out, member.name);
  AppendI32(out, member.size);
  AppendI32(out, member.compressed_size);
  AppendU32(out, member.checksum);
  AppendU32(out, FileTimeLow(member.modified));
  AppendU32(out, FileTimeHigh(member.modified));
  return true;
}

void AppendEndOfArchive(Bytes* out) { AppendU32(out, END_OF_ARCHIVE); }

void AppendVolumeContinuation(Bytes* out) { AppendU32(out, VOLUME_CONTINUATION); }

uint32_t StoredChecksum(std::span<const uint8_t> data) {
  // Member data is at most 2 GB, so one call covers it.
  return static_cast<uint32_t>(adler32(1L, data.data(), static_cast<uInt>(data.size())));
}

uint32_t CrcFromOne(std::span<const uint8_t> data) {
  return static_cast<uint32_t>(crc32(1L, data.data(), static_cast<uInt>(data.size())));
}

bool StoredChecksumAccepted(std::span<const uint8_t> data, uint32_t stored) {
  StoredChecksums sums;
  sums.Update(data);
  return sums.Accepts(stored);
}

void StoredChecksums::Update(std::span<const uint8_t> data) {
  // Pieces are bounded by the reader's buffers, far below 4 GB.
  const uInt n = static_cast<uInt>(data.size());
  adler_ = static_cast<uint32_t>(adler32(adler_, data.data(), n));
  crc_ = static_cast<uint32_t>(crc32(crc_, data.data(), n));
}

int32_t BlockCount(int64_t size, int32_t block_size) {
  if (size <= 0) return 0;
  const int64_t unit = block_size > 0 ? block_size : kDefaultBlockSize;
  return static_cast<int32_t>((size + unit - 1) / unit);
}

bool ProbeArchiveStart(std::span<const uint8_t> bytes) {
  if (bytes.size() < kProbeBytes) return false;
  const uint32_t version = DecodeU32(bytes.subspan<8, 4>());
  return DecodeU32(bytes.first<4>()) == MAGIC && DecodeU32(bytes.subspan<4, 4>()) == HEADER_ID &&
         (version == 0 || version == 1);
}

std::array<int32_t, 6> ArchiveOffsetsToProbe(int32_t default_offset, bool minimal_stub) {
  const int32_t first = minimal_stub ? MIN_STUB_SIZE : FULL_STUB_SIZE;
  const int32_t second = minimal_stub ? FULL_STUB_SIZE : MIN_STUB_SIZE;
  return {default_offset,         first, second, kOtherArchiveOffsets[0], kOtherArchiveOffsets[1],
          kOtherArchiveOffsets[2]};
}

bool MemorySource::Read(void* buffer, size_t size, size_t* got) {
  const size_t n = std::min(size, data_.size() - offset_);
  if (n != 0) std::memcpy(buffer, data_.data() + offset_, n);
  offset_ += n;
  *got = n;
  return true;
}

}  // namespace crx
