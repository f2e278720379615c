#include "stub/stub_variant.h"

#include "engine/format.h"

namespace crx::stub {

const StubVariant& FullStub() {
  static const StubVariant full{"CRXdat", FULL_STUB_SIZE, true, true,
                                "SETUP PHASE: RUN PROGRAM <%s> (%s)\n"};
  return full;
}

const StubVariant& MinimalStub() {
  static const StubVariant minimal{"CRXdat_min", MIN_STUB_SIZE, false, false,
                                   "setup phase: run program <%s> (%s)\n"};
  return minimal;
}

}  // namespace crx::stub
