// What the archive browser and the builder's member list share: the four
// columns, the text of a member's modification time, and the order a
// column heading sorts by.
#ifndef CRX_UI_MEMBER_ROWS_H
#define CRX_UI_MEMBER_ROWS_H

#include <string>

#include "common/filetime.h"
#include "common/format.h"
#include "engine/archive_engine.h"

namespace crx::ui {

// The columns, also the sort keys.
enum class BrowserColumn { kName = 0, kTime = 1, kSize = 2, kStoredSize = 3 };

// "%d/%d/%d %d:%d": day, month, year, hour, minute, without leading zeros;
// empty when the time cannot be converted.
inline std::string MemberTimeText(FileTime modified) {
  SystemTime t;
  if (!FileTimeToSystemTime(modified, &t)) return std::string();
  return Format("%d/%d/%d %d:%d", t.day, t.month, t.year, t.hour, t.minute);
}

// Whether member a sorts before b by column (ascending; names by their
// bytes, the others by their numbers).
inline bool MemberLess(BrowserColumn column, const MemberEntry& a, const MemberEntry& b) {
  switch (column) {
    case BrowserColumn::kName: return a.name < b.name;
    case BrowserColumn::kTime: return a.modified < b.modified;
    case BrowserColumn::kSize: return a.size < b.size;
    case BrowserColumn::kStoredSize: return a.compressed_size < b.compressed_size;
  }
  return false;
}

}  // namespace crx::ui

#endif  // CRX_UI_MEMBER_ROWS_H
