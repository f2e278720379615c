// Removable-media volumes: what the writer and the reader share when an
// archive spans several disks. The first volume is the archive file
// itself; every further disk holds one continuation file named after the
// archive and the number of the volume it follows ("A:\setup.exe-1" after
// the first, "A:\setup.exe-2" after the second). Each disk change shows the
// disk dialog and waits a moment for the drive to settle; every prompt
// stops the feedback window's animation first and restarts it afterwards.
//
// The engine's volume state lives in EngineCore (volume_number and the
// fields next to it); the steps that use it are in the writer
// (volume_writer.cpp) and the reader.
#ifndef CRX_ENGINE_VOLUMES_H
#define CRX_ENGINE_VOLUMES_H

#include <cstdint>
#include <string>

namespace crx {

struct EngineCore;

// A disk of at most this many bytes is small media.
inline constexpr int64_t kSmallMediaLimit = 5120000;
// Bytes left unused at the end of each disk.
inline constexpr int64_t kSmallMediaReserve = 512;
inline constexpr int64_t kLargeMediaReserve = 2048;
// The block size chosen when the setting is 0.
inline constexpr int32_t kSmallMediaBlockSize = 1024;
inline constexpr int32_t kLargeMediaBlockSize = 10240;
// Hard end-of-media mode applies no default by media size; a setting of 0
// there writes in blocks of this size.
inline constexpr int32_t kHardModeDefaultBlockSize = 1024;
// A new disk is taken only with more than this many bytes to give.
inline constexpr int64_t kNewDiskMinimumFree = 5120;
// A member header needs its name's length plus this many bytes.
inline constexpr int64_t kHeaderOverhead = 65;
// How long the drive is given after a disk change before the next file
// is opened on it.
inline constexpr uint32_t kDiskChangeWaitMs = 2000;

// The reserve of a disk of media_size bytes.
int64_t MediaReserve(int64_t media_size);

// "%s-%d": the file that holds the volume after volume number volume.
std::string ContinuationName(const std::string& archive_path, int32_t volume);

// Asks for disk number disk_number with the disk dialog (writing or
// reading), or, where the program has no such dialog, with a message box
// of the same text. The animation is stopped while it is up. True for OK.
bool AskForDisk(EngineCore& core, bool reading, int disk_number);

// A volume question (OK/Cancel, topmost, also in silent mode) with the
// animation stopped while it is up. True for OK.
bool AskVolumeQuestion(EngineCore& core, const std::string& text);

// A message box (OK, topmost, flags added) with the animation stopped.
void TellVolumeNotice(EngineCore& core, const std::string& text, uint32_t flags);

// Lets the drive settle after a disk change (the platform's clock).
void WaitForDisk(EngineCore& core);

}  // namespace crx

#endif  // CRX_ENGINE_VOLUMES_H
