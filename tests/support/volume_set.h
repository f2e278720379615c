// Cuts a finished archive file into the volume files a writer that ran out
// of disk twice would have left, for the tests of reading across volumes.
#ifndef CRX_TESTS_SUPPORT_VOLUME_SET_H
#define CRX_TESTS_SUPPORT_VOLUME_SET_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/format.h"

namespace crx::test {

// Where each member's record and data lie in an archive file.
struct MemberSpan {
  size_t record = 0;
  size_t data = 0;
  size_t end = 0;
};

// The members of the archive that starts at offset in bytes, in order; as
// many as could be read.
inline std::vector<MemberSpan> MemberSpans(const std::string& bytes, int32_t offset) {
  std::vector<MemberSpan> spans;
  const auto* base = reinterpret_cast<const uint8_t*>(bytes.data());
  std::span<const uint8_t> archive(base + offset, bytes.size() - static_cast<size_t>(offset));
  MemorySource source(archive, offset);
  IdentificationRecord id;
  TypeRecord type;
  if (!ReadIdentificationRecord(source, HeaderSearch::kAtOffset, &id).ok()) return spans;
  if (!ReadTypeRecord(source, &type).ok()) return spans;
  for (;;) {
    MemberSpan span;
    span.record = static_cast<size_t>(source.Position());
    MemberHeader member;
    if (!ReadMemberRecord(source, MemberReadOptions{}, &member).ok()) break;
    span.data = static_cast<size_t>(source.Position());
    span.end = span.data + static_cast<size_t>(MemberDataSize(member, type.IsEncrypted()));
    std::vector<uint8_t> skip(span.end - span.data);
    size_t got = 0;
    if (!skip.empty() && (!source.Read(skip.data(), skip.size(), &got) || got != skip.size())) {
      break;
    }
    spans.push_back(span);
  }
  return spans;
}

// The three volumes of the archive at offset in bytes: the first ends in
// the middle of member data_member's data (which goes on in the second
// without a marker), the second ends before the record of member
// marker_member with the continuation marker, the third holds the rest.
// The block and file counts are 0, as after a switch. Empty when the
// members are not there or the data is too short to cut.
inline std::vector<std::string> CutIntoVolumes(std::string bytes, int32_t offset,
                                               size_t data_member, size_t marker_member) {
  const std::vector<MemberSpan> spans = MemberSpans(bytes, offset);
  if (data_member >= marker_member || marker_member >= spans.size() ||
      spans[data_member].end - spans[data_member].data < 2) {
    return {};
  }
  for (int32_t at : {kBlockCountOffset, kFileCountOffset}) {
    bytes.replace(static_cast<size_t>(offset + at), 4, std::string(4, '\0'));
  }
  const MemberSpan& cut_in = spans[data_member];
  const size_t cut = cut_in.data + (cut_in.end - cut_in.data) / 2;
  const size_t marker = spans[marker_member].record;
  Bytes continuation;
  AppendVolumeContinuation(&continuation);
  return {bytes.substr(0, cut),
          bytes.substr(cut, marker - cut) + std::string(continuation.begin(), continuation.end()),
          bytes.substr(marker)};
}

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_VOLUME_SET_H
