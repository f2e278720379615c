// The builder's side of assembling a self-extracting archive: which stub is
// copied in front of the archive, the archive offset that goes with it, and
// the "Test - Get Offset" diagnostic that measures the stubs of a build tree
// so that FULL_STUB_SIZE and MIN_STUB_SIZE can be kept equal to them.
//
// The assembly itself - copying the stub, appending the identification and
// type records, the failure reports, asking for incomplete setup
// information through UserInterface::SetupInformation and emptying the
// texts after a successful creation - is done by the engine's
// ArchiveEngine::CreateArchive (engine/archive_writer.cpp); the builder
// calls that and does not repeat it.
#ifndef CRX_BUILDER_ASSEMBLY_H
#define CRX_BUILDER_ASSEMBLY_H

#include <cstdint>
#include <string>

#include "builder/settings.h"
#include "platform/platform.h"

namespace crx {
class UserInterface;
}

namespace crx::builder {

// The caption of the builder's message boxes.
inline constexpr const char* kBuilderCaption = "Cratex";

// The stub files of a build tree, relative to the current folder.
inline constexpr const char* kBuiltFullStub = "../CRXdat/Release/Cratex.dat";
inline constexpr const char* kBuiltMinimalStub = "../CRXdat_min/Release/Cratexm.dat";

// The archive offset of an archive behind the chosen stub: the length the
// shipped stub must have (MIN_STUB_SIZE or FULL_STUB_SIZE).
int32_t StubArchiveOffset(bool minimal);

// The stub lookup itself (StubFile: the datafile/mdatafile values, the
// default archive offset and the two messages) is the engine's, in
// engine/archive_writer.h, since CreateArchive does it.

// The diagnostic's text for a stub of length bytes at path:
// "%s...\nOFFSET TO FULL ARCHIVE 0x%x %d [%dK]" (or "**MIN**" for the
// minimal stub): the length in hexadecimal, in decimal, and divided by 1024.
std::string StubOffsetText(const std::string& path, int64_t length, bool minimal);

// Counts the bytes of the file at path. False when it cannot be opened or
// measured.
bool MeasureStub(FileSystem& files, const std::string& path, int64_t* length);

// "Test - Get Offset": measures the full and then the minimal stub of the
// build tree and shows a message for each - the offset text, or "Can't open
// Archive File for offset calc" followed by a message with the path.
// Returns how many of the two stubs were measured.
int ShowStubOffsets(FileSystem& files, UserInterface& ui);

}  // namespace crx::builder

#endif  // CRX_BUILDER_ASSEMBLY_H
