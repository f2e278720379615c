#include "platform/posix/sqlite_registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "common/format.h"
#include "platform/posix/machine_mutex.h"

namespace crx {

namespace {

// ERROR_REGISTRY_IO_FAILED: the database could not be read or written.
constexpr long kErrorRegistryIoFailed = 1016;

// Windows' limits: a key name element up to 255 characters, a value name
// up to 16383.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// The most key steps a registry keeps in mind (a few hundred KB).
constexpr size_t kMaxSteps = 4096;
// The most answers the read memo keeps (see SqliteRegistry::Memo), and the
// most values of one key it reads at once.
constexpr size_t kMaxMemoEntries = 4096;
constexpr size_t kMaxMemoKeyValues = 256;
// The memo's mark for "no answers kept": never a count the mutex file holds
// while no change is under way (those are even).
constexpr uint64_t kNoMemo = 1;

// The database layout this code writes, kept in PRAGMA user_version.
constexpr int kSchemaVersion = 1;
// How long a call waits for another program of the machine to finish its
// change before giving up.
constexpr int kBusyTimeoutMs = 20000;

// Keys and values carry their name twice: as written (shown on
// enumeration) and folded to ASCII upper case (compared, unique per parent,
// and the enumeration order of subkeys, as Windows sorts them). Both are
// BLOBs so that any byte of the ANSI code page survives.
const char kSchema[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "CREATE INDEX vals_order ON vals(key, id);";

std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

long ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_FULL:
      return kErrorDiskFull;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrorLockViolation;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return kErrorAccessDenied;
    default:
      return kErrorRegistryIoFailed;
  }
}

// Splits a sub key path into its names. Empty elements (a trailing or a
// doubled back-slash) are skipped as Windows does; a leading back-slash is
// refused with ERROR_BAD_PATHNAME.
long SplitKeyPath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  if (!path.empty() && path[0] == '\\') return kErrorBadPathname;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      if (end - start > kMaxKeyNameLength) return kErrorInvalidParameter;
      names->push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return kErrorSuccess;
}

// A prepared statement kept for the connection's life. Use() hands it out
// and resets it (and its bindings) when the use ends.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  int Prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Use {
 public:
  explicit Use(Statement& statement) : stmt_(statement.get()) {}
  ~Use() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  Use& Int(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  // Binds bytes as a BLOB; an empty one stays an empty BLOB, not NULL.
  Use& Blob(int index, const void* data, size_t size) {
    static const char kEmpty = 0;
    sqlite3_bind_blob64(stmt_, index, size ? data : &kEmpty, size, SQLITE_TRANSIENT);
    return *this;
  }
  Use& Blob(int index, const std::string& bytes) {
    return Blob(index, bytes.data(), bytes.size());
  }
  int Step() { return sqlite3_step(stmt_); }

  int64_t ColumnInt(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string ColumnBytes(int column) {
    const void* p = sqlite3_column_blob(stmt_, column);
    int n = sqlite3_column_bytes(stmt_, column);
    if (!p || n <= 0) return std::string();
    return std::string(static_cast<const char*>(p), static_cast<size_t>(n));
  }

 private:
  sqlite3_stmt* stmt_;
};

struct Handle {
  int64_t key_id = 0;
  bool writable = false;
};

class SqliteRegistry : public Registry {
 public:
  explicit SqliteRegistry(sqlite3* db) : db_(db) {}
  ~SqliteRegistry() override;

  // Shares the machine's change count through the mutex file at path (see
  // Memo). Without it every read asks the database.
  void UseChangeCount(const std::string& path) {
    changes_ = std::make_unique<MachineMutex>(path);
    if (!changes_->Shared()) changes_.reset();
  }

  // Prepares the database for use; false with a message on failure.
  bool Initialize(const std::string& path, std::string* error);

  long OpenKey(RegKey parent, const std::string& sub_key, RegAccess access,
               RegKey* key) override;
  long CreateKey(RegKey parent, const std::string& sub_key, RegAccess access,
                 RegKey* key, bool* created) override;
  long CloseKey(RegKey key) override;
  long DeleteKey(RegKey parent, const std::string& sub_key) override;
  long DeleteValue(RegKey key, const std::string& name) override;
  long QueryValue(RegKey key, const std::string& name, uint32_t* type,
                  std::string* data) override;
  long SetValue(RegKey key, const std::string& name, uint32_t type,
                const void* data, size_t size) override;
  long EnumKey(RegKey key, uint32_t index, std::string* name) override;
  long EnumValue(RegKey key, uint32_t index, std::string* name, uint32_t* type,
                 std::string* data) override;

 private:
  // A write transaction: BEGIN IMMEDIATE takes the database's write lock at
  // once (waiting up to the busy timeout), so a change never has to be
  // retried after reading a state another program has since changed.
  // The whole transaction, from before BEGIN to after COMMIT or ROLLBACK,
  // runs holding the machine's registry mutex with the change count odd
  // (see Memo).
  class WriteTransaction {
   public:
    explicit WriteTransaction(SqliteRegistry& registry) : registry_(registry) {}
    ~WriteTransaction() {
      if (open_) {
        Use use(registry_.rollback_);
        use.Step();
      }
      EndChange();
    }
    long Begin() {
      MachineMutex* changes = registry_.changes_.get();
      if (changes) {
        if (!changes->Lock(kBusyTimeoutMs)) return kErrorLockViolation;
        // An odd count here was left by a program that died changing the
        // registry: moving it on by two drops every memo of the time before.
        uint64_t count = changes->Count();
        changes->SetCount(count % 2 == 0 ? count + 1 : count + 2);
        changing_ = true;
      }
      Use use(registry_.begin_);
      int rc = use.Step();
      if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
      open_ = true;
      return kErrorSuccess;
    }
    long Commit() {
      {
        Use use(registry_.commit_);
        int rc = use.Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
      }
      open_ = false;
      EndChange();
      return kErrorSuccess;
    }

   private:
    void EndChange() {
      if (!changing_) return;
      MachineMutex* changes = registry_.changes_.get();
      changes->SetCount(changes->Count() + 1);
      changes->Unlock();
      changing_ = false;
    }

    SqliteRegistry& registry_;
    bool open_ = false;
    bool changing_ = false;
  };

  // The reads of one call use the memo while the change count is even and
  // the one it was kept at; the answers read meanwhile join it when the
  // count is still that at the end, after the read transaction (declare
  // this first, so it ends last).
  class MemoScope {
   public:
    explicit MemoScope(SqliteRegistry& registry) : registry_(registry) {
      if (!registry_.changes_) return;
      uint64_t count = registry_.changes_->Count();
      Memo& memo = registry_.memo_;
      if (count != memo.at) memo.Clear();
      memo.at = count % 2 == 0 ? count : kNoMemo;
      registry_.memo_active_ = memo.at != kNoMemo;
    }
    ~MemoScope() {
      if (!registry_.memo_active_) return;
      registry_.memo_active_ = false;
      __atomic_thread_fence(__ATOMIC_SEQ_CST);
      if (registry_.changes_->Count() != registry_.memo_.at) registry_.memo_.Clear();
    }
    MemoScope(const MemoScope&) = delete;
    MemoScope& operator=(const MemoScope&) = delete;

   private:
    SqliteRegistry& registry_;
  };

  // A read of several statements (a key path walked one name at a time,
  // a handle checked and then its value read) in one transaction: the
  // database is locked and checked for other programs' changes once, and
  // every statement sees the same state. It begins with the first
  // statement (Reading), so a call the memo answers whole touches nothing.
  class ReadTransaction {
   public:
    explicit ReadTransaction(SqliteRegistry& registry) : registry_(registry) {
      registry_.read_ = this;
    }
    void Open() {
      if (begun_) return;
      begun_ = true;
      Use use(registry_.begin_read_);
      open_ = use.Step() == SQLITE_DONE;
    }
    ~ReadTransaction() {
      registry_.read_ = nullptr;
      if (!open_) return;
      Use use(registry_.commit_);
      if (use.Step() != SQLITE_DONE) {
        Use undo(registry_.rollback_);
        undo.Step();
      }
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

   private:
    SqliteRegistry& registry_;
    bool begun_ = false;
    bool open_ = false;
  };
  // Call before a statement that reads.
  void Reading() {
    if (read_) read_->Open();
  }

  template <typename F>
  long Guarded(F&& body) {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      return body();
    } catch (const std::bad_alloc&) {
      return kErrorNotEnoughMemory;
    } catch (...) {
      return kErrorRegistryIoFailed;
    }
  }

  bool PrepareStatements();
  // The key a handle stands for; kErrorInvalidHandle for an unknown
  // handle, kErrorKeyDeleted when its key has been deleted since.
  long Resolve(RegKey key, int64_t* key_id, bool* writable);
  long KeyExists(int64_t key_id, bool* exists);
  long FindChild(int64_t parent, const std::string& name, int64_t* child);
  // Walks names from key `from` (see steps_).
  long FindPath(int64_t from, const std::vector<std::string>& names, int64_t* key_id);
  // Walks names from parent, creating the missing keys; *created tells
  // whether the last key was new. Runs inside a write transaction.
  long EnsurePath(int64_t parent, const std::vector<std::string>& names,
                  int64_t* key_id, bool* created);
  RegKey AddHandle(int64_t key_id, bool writable);
  bool IsHiveKey(int64_t key_id) const;

  // What this program read from the database, kept while no program of
  // the machine has changed the registry since. Every change runs holding
  // the machine's registry mutex (registry.db.lock beside the database),
  // with the count beside the mutex made odd before it and even again
  // after it. A read that starts and ends with the same even count saw a
  // state nobody changed meanwhile, so its answers stand for as long as the
  // count stays there. A program that dies changing the registry leaves
  // the count odd, which keeps every memo unused until the next change.
  struct Memo {
    struct Value {
      uint32_t type;
      std::string data;
    };
    uint64_t at = kNoMemo;
    std::unordered_set<int64_t> keys;  // keys that exist
    // (parent id, folded name) -> child id, 0 when there is no such child;
    // the same for whole sub key paths as given to OpenKey.
    std::map<std::pair<int64_t, std::string>, int64_t> children;
    std::map<std::pair<int64_t, std::string>, int64_t> paths;
    // Every value of a key, by folded name.
    std::map<int64_t, std::map<std::string, Value>> values;
    size_t entries = 0;

    void Clear() {
      at = kNoMemo;
      keys.clear();
      children.clear();
      paths.clear();
      values.clear();
      entries = 0;
    }
    // Makes room for n more answers.
    void Reserve(size_t n) {
      if (entries + n <= kMaxMemoEntries) {
        entries += n;
        return;
      }
      uint64_t kept_at = at;
      Clear();
      at = kept_at;
      entries = n;
    }
  };
  // The values of a key from the memo, read into it first when there are
  // few enough; nullptr when the memo is not in use or the key has too many.
  const std::map<std::string, Memo::Value>* MemoValues(int64_t key_id, long* rc);

  sqlite3* db_;
  std::mutex mutex_;
  std::unique_ptr<MachineMutex> changes_;
  ReadTransaction* read_ = nullptr;  // the read transaction of the call under way
  Memo memo_;
  bool memo_active_ = false;
  Statement begin_, begin_read_, commit_, rollback_;
  Statement key_exists_, find_child_, insert_key_, has_child_, delete_key_,
      delete_key_values_, enum_key_, query_value_, set_value_, delete_value_,
      enum_value_, key_values_;
  std::map<RegKey, Handle> handles_;
  // The steps FindChild took: (parent id, folded name) -> child id. A key
  // keeps its id and its parent while it exists, and ids are never given
  // again (AUTOINCREMENT), so a chain of steps stands for as long as the
  // key it ends at exists: one question instead of one per name.
  std::map<std::pair<int64_t, std::string>, int64_t> steps_;
  RegKey next_handle_ = 0x100;
  int64_t hklm_ = 0, hkcu_ = 0, hku_ = 0, hkcr_ = 0, hkcc_ = 0;
};

SqliteRegistry::~SqliteRegistry() {
  // close_v2 lets the prepared statements (members, finalized after this
  // body) outlive the call; the connection goes when the last one does.
  sqlite3_close_v2(db_);
}

bool SqliteRegistry::PrepareStatements() {
  struct Row {
    Statement* statement;
    const char* sql;
  };
  const Row rows[] = {
      {&begin_, "BEGIN IMMEDIATE"},
      {&begin_read_, "BEGIN"},
      {&commit_, "COMMIT"},
      {&rollback_, "ROLLBACK"},
      {&key_exists_, "SELECT 1 FROM keys WHERE id = ?1"},
      {&find_child_, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"},
      {&insert_key_, "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)"},
      {&has_child_, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"},
      {&delete_key_, "DELETE FROM keys WHERE id = ?1"},
      {&delete_key_values_, "DELETE FROM vals WHERE key = ?1"},
      {&enum_key_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2"},
      {&query_value_, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2"},
      // An overwrite keeps the value's row, so its place in the
      // enumeration and the spelling of its name stay as first written.
      {&set_value_,
       "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
       "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"},
      {&delete_value_, "DELETE FROM vals WHERE key = ?1 AND fold = ?2"},
      {&enum_value_,
       "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2"},
      {&key_values_, "SELECT fold, type, data FROM vals WHERE key = ?1 LIMIT ?2"},
  };
  for (const Row& row : rows) {
    if (row.statement->Prepare(db_, row.sql) != SQLITE_OK) return false;
  }
  return true;
}

bool SqliteRegistry::Initialize(const std::string& path, std::string* error) {
  auto fail = [&](const char* what) {
    *error = Format("cannot %s the registry database %s: %s", what, path.c_str(),
                    sqlite3_errmsg(db_));
    return false;
  };
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);

  // Read first, so that a file that is not a database is reported without
  // anything being written to it.
  {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &stmt,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return fail("read");
    }
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) return fail("read");
  }

  // WAL lets readers go on while another program writes. Switching needs
  // a moment alone with the file; the busy timeout covers that, but a
  // fresh file being set up by two programs at once can still report busy.
  for (int attempt = 0;; ++attempt) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
    std::string mode;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        mode = text ? reinterpret_cast<const char*>(text) : "";
      }
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_ROW && mode == "wal") break;
    if ((rc & 0xff) == SQLITE_BUSY && attempt < 50) {
      usleep(100 * 1000);
      continue;
    }
    if (rc == SQLITE_ROW) {
      *error = Format("cannot use the registry database %s: journal mode %s instead of wal",
                      path.c_str(), mode.c_str());
      return false;
    }
    return fail("set up");
  }
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);

  // Layout and hives, in one transaction so that two programs setting up a
  // new machine at once do it one after the other.
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return fail("write to");
  }
  auto rollback = [&]() { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); };
  int64_t objects = -1;
  int64_t user_version = -1;
  {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT (SELECT count(*) FROM sqlite_master), "
                           "(SELECT user_version FROM pragma_user_version)",
                           -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      objects = sqlite3_column_int64(stmt, 0);
      user_version = sqlite3_column_int64(stmt, 1);
    }
    sqlite3_finalize(stmt);
  }
  if (objects < 0) {
    fail("read");
    rollback();
    return false;
  }
  if (objects == 0) {
    if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, Format("PRAGMA user_version=%d", kSchemaVersion).c_str(),
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      fail("set up");
      rollback();
      return false;
    }
  } else if (user_version != kSchemaVersion) {
    *error = Format("%s is not a registry database of this system (format %lld)",
                    path.c_str(), static_cast<long long>(user_version));
    rollback();
    return false;
  }
  if (!PrepareStatements()) {
    fail("prepare statements for");
    rollback();
    return false;
  }

  bool created = false;
  long rc = EnsurePath(0, {"HKEY_LOCAL_MACHINE"}, &hklm_, &created);
  if (rc == kErrorSuccess) rc = EnsurePath(0, {"HKEY_CURRENT_USER"}, &hkcu_, &created);
  if (rc == kErrorSuccess) rc = EnsurePath(0, {"HKEY_USERS"}, &hku_, &created);
  if (rc == kErrorSuccess) rc = EnsurePath(hklm_, {"SOFTWARE", "Classes"}, &hkcr_, &created);
  if (rc == kErrorSuccess) {
    rc = EnsurePath(hklm_, {"SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"},
                    &hkcc_, &created);
  }
  if (rc != kErrorSuccess) {
    fail("create the hives in");
    rollback();
    return false;
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("write to");
    rollback();
    return false;
  }
  return true;
}

long SqliteRegistry::KeyExists(int64_t key_id, bool* exists) {
  if (memo_active_ && memo_.keys.count(key_id)) {
    *exists = true;
    return kErrorSuccess;
  }
  Reading();
  Use use(key_exists_);
  use.Int(1, key_id);
  int rc = use.Step();
  if (rc == SQLITE_ROW) {
    *exists = true;
    if (memo_active_) {
      memo_.Reserve(1);
      memo_.keys.insert(key_id);
    }
    return kErrorSuccess;
  }
  if (rc == SQLITE_DONE) {
    *exists = false;
    return kErrorSuccess;
  }
  return ErrorFromSqlite(rc);
}

long SqliteRegistry::Resolve(RegKey key, int64_t* key_id, bool* writable) {
  *writable = true;
  switch (key) {
    case kHKeyLocalMachine:
      *key_id = hklm_;
      return kErrorSuccess;
    case kHKeyCurrentUser:
      *key_id = hkcu_;
      return kErrorSuccess;
    case kHKeyUsers:
      *key_id = hku_;
      return kErrorSuccess;
    case kHKeyClassesRoot:
      *key_id = hkcr_;
      return kErrorSuccess;
    case kHKeyCurrentConfig:
      *key_id = hkcc_;
      return kErrorSuccess;
    default:
      break;
  }
  auto it = handles_.find(key);
  if (it == handles_.end()) return kErrorInvalidHandle;
  *key_id = it->second.key_id;
  *writable = it->second.writable;
  bool exists = false;
  long rc = KeyExists(*key_id, &exists);
  if (rc != kErrorSuccess) return rc;
  return exists ? kErrorSuccess : kErrorKeyDeleted;
}

long SqliteRegistry::FindChild(int64_t parent, const std::string& name, int64_t* child) {
  std::string folded = Fold(name);
  if (memo_active_) {
    auto it = memo_.children.find({parent, folded});
    if (it != memo_.children.end()) {
      if (it->second == 0) return kErrorFileNotFound;
      *child = it->second;
      return kErrorSuccess;
    }
  }
  Reading();
  Use use(find_child_);
  use.Int(1, parent).Blob(2, folded);
  int rc = use.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  int64_t found = rc == SQLITE_ROW ? use.ColumnInt(0) : 0;
  if (memo_active_) {
    memo_.Reserve(1);
    memo_.children[{parent, folded}] = found;
  }
  if (found == 0) return kErrorFileNotFound;
  *child = found;
  if (steps_.size() >= kMaxSteps) steps_.clear();
  steps_[{parent, std::move(folded)}] = found;
  return kErrorSuccess;
}

const std::map<std::string, SqliteRegistry::Memo::Value>* SqliteRegistry::MemoValues(
    int64_t key_id, long* rc) {
  *rc = kErrorSuccess;
  if (!memo_active_) return nullptr;
  auto it = memo_.values.find(key_id);
  if (it != memo_.values.end()) return &it->second;
  std::map<std::string, Memo::Value> values;
  Reading();
  Use use(key_values_);
  use.Int(1, key_id).Int(2, static_cast<int64_t>(kMaxMemoKeyValues) + 1);
  int step;
  while ((step = use.Step()) == SQLITE_ROW) {
    if (values.size() == kMaxMemoKeyValues) return nullptr;
    values[use.ColumnBytes(0)] =
        Memo::Value{static_cast<uint32_t>(use.ColumnInt(1)), use.ColumnBytes(2)};
  }
  if (step != SQLITE_DONE) {
    *rc = ErrorFromSqlite(step);
    return nullptr;
  }
  memo_.Reserve(values.size() + 1);
  return &(memo_.values[key_id] = std::move(values));
}

long SqliteRegistry::FindPath(int64_t from, const std::vector<std::string>& names,
                              int64_t* key_id) {
  // The longest chain of known steps, checked once at its end.
  int64_t known = from;
  size_t steps = 0;
  for (; steps < names.size(); ++steps) {
    auto it = steps_.find({known, Fold(names[steps])});
    if (it == steps_.end()) break;
    known = it->second;
  }
  int64_t current = from;
  size_t walked = 0;
  if (steps > 0) {
    bool exists = false;
    long rc = KeyExists(known, &exists);
    if (rc != kErrorSuccess) return rc;
    if (exists) {
      current = known;
      walked = steps;
    } else {
      steps_.clear();
    }
  }
  for (; walked < names.size(); ++walked) {
    long rc = FindChild(current, names[walked], &current);
    if (rc != kErrorSuccess) return rc;
  }
  *key_id = current;
  return kErrorSuccess;
}

long SqliteRegistry::EnsurePath(int64_t parent, const std::vector<std::string>& names,
                                int64_t* key_id, bool* created) {
  *created = false;
  int64_t current = parent;
  for (const std::string& name : names) {
    int64_t child = 0;
    long rc = FindChild(current, name, &child);
    if (rc == kErrorFileNotFound) {
      Use use(insert_key_);
      use.Int(1, current).Blob(2, name).Blob(3, Fold(name));
      int step = use.Step();
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
      child = sqlite3_last_insert_rowid(db_);
      *created = true;
    } else if (rc != kErrorSuccess) {
      return rc;
    } else {
      *created = false;
    }
    current = child;
  }
  *key_id = current;
  return kErrorSuccess;
}

RegKey SqliteRegistry::AddHandle(int64_t key_id, bool writable) {
  RegKey handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = Handle{key_id, writable};
  return handle;
}

bool SqliteRegistry::IsHiveKey(int64_t key_id) const {
  return key_id == hklm_ || key_id == hkcu_ || key_id == hku_ || key_id == hkcr_ ||
         key_id == hkcc_;
}

long SqliteRegistry::OpenKey(RegKey parent, const std::string& sub_key, RegAccess access,
                             RegKey* key) {
  return Guarded([&]() -> long {
    MemoScope memo(*this);
    ReadTransaction transaction(*this);
    int64_t current = 0;
    bool writable = false;
    long rc = Resolve(parent, &current, &writable);
    if (rc != kErrorSuccess) return rc;
    std::pair<int64_t, std::string> path;
    if (memo_active_) {
      path = {current, Fold(sub_key)};
      auto it = memo_.paths.find(path);
      if (it != memo_.paths.end()) {
        if (it->second == 0) return kErrorFileNotFound;
        *key = AddHandle(it->second, access == RegAccess::kAll);
        return kErrorSuccess;
      }
    }
    std::vector<std::string> names;
    rc = SplitKeyPath(sub_key, &names);
    if (rc != kErrorSuccess) return rc;
    rc = FindPath(current, names, &current);
    if (memo_active_ && (rc == kErrorSuccess || rc == kErrorFileNotFound)) {
      memo_.Reserve(1);
      memo_.paths[std::move(path)] = rc == kErrorSuccess ? current : 0;
    }
    if (rc != kErrorSuccess) return rc;
    *key = AddHandle(current, access == RegAccess::kAll);
    return kErrorSuccess;
  });
}

long SqliteRegistry::CreateKey(RegKey parent, const std::string& sub_key, RegAccess access,
                               RegKey* key, bool* created) {
  return Guarded([&]() -> long {
    std::vector<std::string> names;
    long rc = SplitKeyPath(sub_key, &names);
    if (rc != kErrorSuccess) return rc;
    WriteTransaction transaction(*this);
    rc = transaction.Begin();
    if (rc != kErrorSuccess) return rc;
    int64_t current = 0;
    bool writable = false;
    rc = Resolve(parent, &current, &writable);
    if (rc != kErrorSuccess) return rc;
    int64_t key_id = 0;
    bool was_created = false;
    rc = EnsurePath(current, names, &key_id, &was_created);
    if (rc != kErrorSuccess) return rc;
    rc = transaction.Commit();
    if (rc != kErrorSuccess) return rc;
    *key = AddHandle(key_id, access == RegAccess::kAll);
    if (created) *created = was_created;
    return kErrorSuccess;
  });
}

long SqliteRegistry::CloseKey(RegKey key) {
  return Guarded([&]() -> long {
    switch (key) {
      case kHKeyLocalMachine:
      case kHKeyCurrentUser:
      case kHKeyUsers:
      case kHKeyClassesRoot:
      case kHKeyCurrentConfig:
        return kErrorSuccess;  // the hives stay usable, as on Windows
      default:
        break;
    }
    return handles_.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
  });
}

long SqliteRegistry::DeleteKey(RegKey parent, const std::string& sub_key) {
  return Guarded([&]() -> long {
    std::vector<std::string> names;
    long rc = SplitKeyPath(sub_key, &names);
    if (rc != kErrorSuccess) return rc;
    WriteTransaction transaction(*this);
    rc = transaction.Begin();
    if (rc != kErrorSuccess) return rc;
    int64_t current = 0;
    bool writable = false;
    rc = Resolve(parent, &current, &writable);
    if (rc != kErrorSuccess) return rc;
    rc = FindPath(current, names, &current);
    if (rc != kErrorSuccess) return rc;
    // An empty sub key names the parent itself. The hives cannot go, and a
    // key with subkeys is refused as Windows NT does.
    if (IsHiveKey(current)) return kErrorAccessDenied;
    {
      Use use(has_child_);
      use.Int(1, current);
      int step = use.Step();
      if (step == SQLITE_ROW) return kErrorAccessDenied;
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
    }
    {
      Use use(delete_key_values_);
      use.Int(1, current);
      int step = use.Step();
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
    }
    {
      Use use(delete_key_);
      use.Int(1, current);
      int step = use.Step();
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
    }
    return transaction.Commit();
  });
}

long SqliteRegistry::DeleteValue(RegKey key, const std::string& name) {
  return Guarded([&]() -> long {
    WriteTransaction transaction(*this);
    long rc = transaction.Begin();
    if (rc != kErrorSuccess) return rc;
    int64_t key_id = 0;
    bool writable = false;
    rc = Resolve(key, &key_id, &writable);
    if (rc != kErrorSuccess) return rc;
    if (!writable) return kErrorAccessDenied;
    {
      Use use(delete_value_);
      use.Int(1, key_id).Blob(2, Fold(name));
      int step = use.Step();
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
    }
    if (sqlite3_changes(db_) == 0) return kErrorFileNotFound;
    return transaction.Commit();
  });
}

long SqliteRegistry::QueryValue(RegKey key, const std::string& name, uint32_t* type,
                                std::string* data) {
  return Guarded([&]() -> long {
    MemoScope memo(*this);
    ReadTransaction transaction(*this);
    int64_t key_id = 0;
    bool writable = false;
    long rc = Resolve(key, &key_id, &writable);
    if (rc != kErrorSuccess) return rc;
    std::string folded = Fold(name);
    if (const auto* values = MemoValues(key_id, &rc)) {
      auto it = values->find(folded);
      if (it == values->end()) return kErrorFileNotFound;
      if (type) *type = it->second.type;
      if (data) *data = it->second.data;
      return kErrorSuccess;
    }
    if (rc != kErrorSuccess) return rc;
    Reading();
    Use use(query_value_);
    use.Int(1, key_id).Blob(2, folded);
    int step = use.Step();
    if (step == SQLITE_DONE) return kErrorFileNotFound;
    if (step != SQLITE_ROW) return ErrorFromSqlite(step);
    if (type) *type = static_cast<uint32_t>(use.ColumnInt(0));
    if (data) *data = use.ColumnBytes(1);
    return kErrorSuccess;
  });
}

long SqliteRegistry::SetValue(RegKey key, const std::string& name, uint32_t type,
                              const void* data, size_t size) {
  return Guarded([&]() -> long {
    if (name.size() > kMaxValueNameLength) return kErrorInvalidParameter;
    if (size != 0 && data == nullptr) return kErrorInvalidParameter;
    WriteTransaction transaction(*this);
    long rc = transaction.Begin();
    if (rc != kErrorSuccess) return rc;
    int64_t key_id = 0;
    bool writable = false;
    rc = Resolve(key, &key_id, &writable);
    if (rc != kErrorSuccess) return rc;
    if (!writable) return kErrorAccessDenied;
    {
      Use use(set_value_);
      use.Int(1, key_id).Blob(2, name).Blob(3, Fold(name)).Int(4, type).Blob(5, data, size);
      int step = use.Step();
      if (step != SQLITE_DONE) return ErrorFromSqlite(step);
    }
    return transaction.Commit();
  });
}

long SqliteRegistry::EnumKey(RegKey key, uint32_t index, std::string* name) {
  return Guarded([&]() -> long {
    MemoScope memo(*this);
    ReadTransaction transaction(*this);
    int64_t key_id = 0;
    bool writable = false;
    long rc = Resolve(key, &key_id, &writable);
    if (rc != kErrorSuccess) return rc;
    Reading();
    Use use(enum_key_);
    use.Int(1, key_id).Int(2, index);
    int step = use.Step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return ErrorFromSqlite(step);
    *name = use.ColumnBytes(0);
    return kErrorSuccess;
  });
}

long SqliteRegistry::EnumValue(RegKey key, uint32_t index, std::string* name,
                               uint32_t* type, std::string* data) {
  return Guarded([&]() -> long {
    MemoScope memo(*this);
    ReadTransaction transaction(*this);
    int64_t key_id = 0;
    bool writable = false;
    long rc = Resolve(key, &key_id, &writable);
    if (rc != kErrorSuccess) return rc;
    Reading();
    Use use(enum_value_);
    use.Int(1, key_id).Int(2, index);
    int step = use.Step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return ErrorFromSqlite(step);
    if (name) *name = use.ColumnBytes(0);
    if (type) *type = static_cast<uint32_t>(use.ColumnInt(1));
    if (data) *data = use.ColumnBytes(2);
    return kErrorSuccess;
  });
}

}  // namespace

std::unique_ptr<Registry> OpenSqliteRegistry(const std::string& database_path,
                                             std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  try {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(database_path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      *error = Format("cannot open the registry database %s: %s", database_path.c_str(),
                      db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
      sqlite3_close_v2(db);
      return nullptr;
    }
    auto registry = std::make_unique<SqliteRegistry>(db);
    if (!registry->Initialize(database_path, error)) return nullptr;
    // Only now: a file that is no registry gets no mutex file beside it.
    // Setting up a database changes nothing another program could have
    // read, as the hives are made before any program reads.
    registry->UseChangeCount(database_path + ".lock");
    return registry;
  } catch (const std::bad_alloc&) {
    *error = "out of memory opening the registry database";
    return nullptr;
  } catch (...) {
    *error = "unexpected failure opening the registry database";
    return nullptr;
  }
}

}  // namespace crx
