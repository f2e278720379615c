// The minimal self-extractor's stand-in for reading across volumes
// (engine/volume_reader.cpp): it has no room for the disk prompts, so it
// reads archives of one volume only. An archive that goes on in another
// volume ends the walk where the first volume ends, as a damaged archive
// would; the full self-extractor reads such archives disk by disk. Linked into the minimal
// stub program ahead of the stub library, whose volume reader then stays
// out of it.
#include "engine/archive_reader.h"
#include "engine/archive_source.h"

namespace crx {

bool ArchiveReader::BeginMultiVolumeListing() { return true; }

void ArchiveReader::EndMultiVolumeListing() {}

// The walk ends where the volume does: a short read of member data is
// reported as such, and a listing cannot be completed.
bool ArchiveReader::NextVolume(VolumeNeed need) {
  (void)need;
  return false;
}

bool ArchiveReader::VolumeRead(uint8_t* buffer, size_t size, size_t* got) {
  // The source reads until size bytes have arrived or the file ends.
  return source_->Read(buffer, size, got) && *got == size;
}

// Only called for a distance past the end of the file.
bool ArchiveReader::VolumeSkip(int64_t distance) {
  (void)distance;
  return false;
}

}  // namespace crx
