// The two self-extractor stubs differ in a handful of points only; each
// entry point picks one of these descriptions and the start-up code reads
// the differences from it instead of testing which stub it is.
#ifndef CRX_STUB_STUB_VARIANT_H
#define CRX_STUB_STUB_VARIANT_H

#include <cstdint>

namespace crx::stub {

struct StubVariant {
  const char* program;      // "CRXdat" / "CRXdat_min"
  // The length of the stub's own file, where its archive begins.
  int32_t archive_offset;
  // The feedback window runs on a user-interface thread of its own (full
  // stub), or is a modeless window of the only thread (minimal stub).
  bool feedback_thread;
  // The archive browser's form: a list view (full) or a list box (minimal).
  bool list_view_browser;
  // The setup phase's log line for the start of the setup program, with the
  // program text and the command line.
  const char* run_program_line;
};

const StubVariant& FullStub();
const StubVariant& MinimalStub();

}  // namespace crx::stub

#endif  // CRX_STUB_STUB_VARIANT_H
