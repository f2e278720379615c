// Writes small valid archives (no stub in front) into the folder named on
// the command line, as the starting corpus of archive_fuzz: plain, setup,
// password-protected and encrypted archives with stored, compressed and
// empty members.
#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "engine/format.h"
#include "engine/scramble.h"

namespace {

using crx::Bytes;

void AddMember(Bytes* out, const std::string& name, const std::string& text, bool compress,
               const std::string& digest) {
  crx::MemberHeader m;
  m.name = name;
  m.size = static_cast<int32_t>(text.size());
  m.modified = 132000000000000000ULL;
  Bytes data(text.begin(), text.end());
  if (compress && !text.empty()) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    Bytes stream(size);
    compress2(stream.data(), &size, data.data(), static_cast<uLong>(data.size()),
              Z_DEFAULT_COMPRESSION);
    stream.resize(size);
    m.compressed_size = static_cast<int32_t>(size);
    if (!digest.empty()) {
      crx::Scrambler scrambler(digest);
      Bytes scrambled(stream.size() * 2);
      scrambler.Scramble(stream.data(), stream.size(), scrambled.data());
      data = scrambled;
    } else {
      data = stream;
    }
  } else if (!text.empty()) {
    m.checksum = crx::StoredChecksum(data);
  }
  crx::AppendMemberHeader(m, out);
  out->insert(out->end(), data.begin(), data.end());
}

Bytes MakeArchive(uint32_t type, const std::string& password, bool compress) {
  Bytes out;
  crx::IdentificationRecord id;
  if (!password.empty()) id.password_digest = crx::DigestFromPaddedPassword(password);
  id.file_count = 2;
  id.block_count = 2;
  crx::AppendIdentificationRecord(id, &out);
  crx::TypeRecord t;
  t.archive_type = type;
  t.setup = {"Velmora", "Widget", "A widget", "SETUP.EXE", "SETUP.EXE"};
  crx::AppendTypeRecord(t, &out);
  const std::string digest = (type & crx::TYPE_ENCRYPTED) ? id.password_digest : "";
  AddMember(&out, "C:\\src\\readme.txt", "Read me first, then read me again.", compress, digest);
  AddMember(&out, "C:\\src\\empty.txt", "", compress, digest);
  AddMember(&out, "sub\\data.bin", std::string(300, 'x') + "tail", compress, digest);
  crx::AppendEndOfArchive(&out);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
    return 2;
  }
  struct Seed {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"plain_stored", MakeArchive(0, "", false)},
      {"plain_compressed", MakeArchive(0, "", true)},
      {"setup_compressed", MakeArchive(crx::TYPE_SETUP, "", true)},
      {"password", MakeArchive(0, "secret", true)},
      {"encrypted_setup", MakeArchive(crx::TYPE_SETUP | crx::TYPE_ENCRYPTED, "secret", true)},
  };
  for (const Seed& seed : seeds) {
    std::string path = std::string(argv[1]) + "/" + seed.name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), f) != seed.bytes.size() ||
        std::fclose(f) != 0) {
      std::fprintf(stderr, "make_fuzz_corpus: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
