// Feeds arbitrary bytes to the archive record decoders the way the reader
// walks an archive: the identification record (both header searches), the
// type record, then member records with their data skipped, unscrambled
// and inflated. Nothing here may crash, allocate without bound or loop
// forever, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <zlib.h>

#include "engine/format.h"
#include "engine/scramble.h"

namespace {

void WalkMembers(crx::MemorySource& source, const crx::TypeRecord& type,
                 const std::string& digest) {
  crx::MemberReadOptions options;
  options.encrypted = type.IsEncrypted();
  crx::Scrambler scrambler(digest);
  for (int step = 0; step < 10000; ++step) {
    crx::MemberHeader member;
    crx::FormatResult r = crx::ReadMemberRecord(source, options, &member);
    if (r.status == crx::FormatStatus::kResyncNeeded) {
      if (!crx::FindNextMagic(source).ok()) return;
      r = crx::ReadMemberAfterMagic(source, options, &member);
    }
    if (!r.ok()) return;
    int64_t data_size = crx::MemberDataSize(member, type.IsEncrypted());
    if (data_size < 0 || data_size > source.Remaining()) return;
    std::vector<uint8_t> data(static_cast<size_t>(data_size));
    size_t got = 0;
    if (data_size > 0 && (!source.Read(data.data(), data.size(), &got) || got != data.size())) {
      return;
    }
    if (crx::KindOf(member) == crx::MemberKind::kStored) {
      crx::StoredChecksumAccepted(data, member.checksum);
    } else if (crx::KindOf(member) == crx::MemberKind::kCompressed) {
      std::vector<uint8_t> stream(static_cast<size_t>(member.compressed_size));
      if (type.IsEncrypted()) {
        if (!scrambler.Usable()) continue;
        scrambler.Reset();
        scrambler.Unscramble(data.data(), stream.size(), stream.data());
      } else {
        stream = data;
      }
      // The decoder checked the sizes against the data; inflate at most a
      // bounded output so the fuzzer's memory stays small.
      uLongf out_size = static_cast<uLongf>(member.size < (1 << 20) ? member.size : (1 << 20));
      std::vector<uint8_t> out(out_size + 1);
      uncompress(out.data(), &out_size, stream.data(), static_cast<uLong>(stream.size()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  crx::ProbeArchiveStart(bytes);
  for (crx::HeaderSearch search : {crx::HeaderSearch::kAtOffset, crx::HeaderSearch::kSkipToMagic}) {
    crx::MemorySource source(bytes);
    crx::IdentificationRecord id;
    if (!crx::ReadIdentificationRecord(source, search, &id).ok()) continue;
    crx::TypeRecord type;
    if (!crx::ReadTypeRecord(source, &type).ok()) continue;
    WalkMembers(source, type, id.password_digest);
  }
  return 0;
}
