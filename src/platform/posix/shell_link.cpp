#include "platform/posix/shell_link.h"

#include <utility>

#include "common/winpath.h"

namespace crx {

namespace {

// Link flags.
constexpr uint32_t kHasLinkInfo = 0x00000002;
constexpr uint32_t kHasName = 0x00000004;
constexpr uint32_t kHasWorkingDir = 0x00000010;
// LinkInfo flags.
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x00000001;
constexpr uint32_t kCommonNetworkRelativeLinkAndPathSuffix = 0x00000002;

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kShowNormal = 1;
// {00021401-0000-0000-C000-000000000046} in its stored byte order.
constexpr unsigned char kShellLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

void Put16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void Put32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void Put64(std::string* out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

void PutText(std::string* out, const std::string& text) {
  out->append(text);
  out->push_back('\0');
}

// A counted ANSI string of the StringData section.
bool PutCounted(std::string* out, const std::string& text) {
  if (text.size() > 0xFFFF) return false;
  Put16(out, static_cast<uint16_t>(text.size()));
  out->append(text);
  return true;
}

// The "\\\\server\\share" part of a UNC path and the rest below it.
void SplitShare(const std::string& path, std::string* share, std::string* rest) {
  size_t server_end = path.find('\\', 2);
  size_t share_end =
      server_end == std::string::npos ? std::string::npos : path.find('\\', server_end + 1);
  if (share_end == std::string::npos) {
    *share = path;
    rest->clear();
  } else {
    *share = path.substr(0, share_end);
    *rest = path.substr(share_end + 1);
  }
}

std::string LinkInfo(const ShellLinkData& data) {
  std::string body;  // everything after the LinkInfo header
  uint32_t flags = 0;
  uint32_t volume_offset = 0;
  uint32_t base_path_offset = 0;
  uint32_t network_offset = 0;
  uint32_t suffix_offset = 0;
  if (winpath::IsUnc(data.target)) {
    std::string share;
    std::string rest;
    SplitShare(data.target, &share, &rest);
    flags = kCommonNetworkRelativeLinkAndPathSuffix;
    // CommonNetworkRelativeLink: size, flags, net name offset, device name
    // offset, provider type, then the net name.
    std::string network;
    Put32(&network, 0);  // size, patched below
    Put32(&network, 0);
    Put32(&network, 0x14);
    Put32(&network, 0);
    Put32(&network, 0);
    PutText(&network, share);
    uint32_t network_size = static_cast<uint32_t>(network.size());
    for (int i = 0; i < 4; ++i) network[i] = static_cast<char>((network_size >> (8 * i)) & 0xFF);
    network_offset = kLinkInfoHeaderSize;
    body += network;
    suffix_offset = kLinkInfoHeaderSize + static_cast<uint32_t>(body.size());
    PutText(&body, rest);
  } else {
    flags = kVolumeIdAndLocalBasePath;
    // VolumeID: size, drive type, serial number, label offset, label.
    std::string volume;
    uint32_t volume_size = 16 + static_cast<uint32_t>(data.volume_label.size()) + 1;
    Put32(&volume, volume_size);
    Put32(&volume, data.drive_type);
    Put32(&volume, data.drive_serial);
    Put32(&volume, 0x10);
    PutText(&volume, data.volume_label);
    volume_offset = kLinkInfoHeaderSize;
    body += volume;
    base_path_offset = kLinkInfoHeaderSize + static_cast<uint32_t>(body.size());
    PutText(&body, data.target);
    suffix_offset = kLinkInfoHeaderSize + static_cast<uint32_t>(body.size());
    PutText(&body, "");
  }
  std::string info;
  Put32(&info, kLinkInfoHeaderSize + static_cast<uint32_t>(body.size()));
  Put32(&info, kLinkInfoHeaderSize);
  Put32(&info, flags);
  Put32(&info, volume_offset);
  Put32(&info, base_path_offset);
  Put32(&info, network_offset);
  Put32(&info, suffix_offset);
  info += body;
  return info;
}

}  // namespace

bool BuildShellLink(const ShellLinkData& data, std::string* bytes) {
  std::string out;
  uint32_t flags = kHasLinkInfo;
  if (!data.description.empty()) flags |= kHasName;
  if (!data.working_folder.empty()) flags |= kHasWorkingDir;

  Put32(&out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kShellLinkClassId), sizeof kShellLinkClassId);
  Put32(&out, flags);
  Put32(&out, data.attributes);
  Put64(&out, 0);                // creation time: not known on the machine
  Put64(&out, 0);                // access time
  Put64(&out, data.write_time);
  Put32(&out, static_cast<uint32_t>(data.size));  // the low 32 bits, as the format keeps
  Put32(&out, 0);                // icon index
  Put32(&out, kShowNormal);
  Put16(&out, 0);                // hot key
  Put16(&out, 0);                // reserved
  Put32(&out, 0);
  Put32(&out, 0);

  out += LinkInfo(data);
  if ((flags & kHasName) != 0 && !PutCounted(&out, data.description)) return false;
  if ((flags & kHasWorkingDir) != 0 && !PutCounted(&out, data.working_folder)) return false;
  Put32(&out, 0);  // terminal block of the extra data
  *bytes = std::move(out);
  return true;
}

}  // namespace crx
