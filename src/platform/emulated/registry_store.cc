#include "platform/emulated/registry_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

#include "platform/emulated/win32_emulated.h"

namespace emulated {
namespace {

// How LONG a run waits for another run of the same prefix to finish. Runs
// are serialised on the store, and an installer may start many at once.
constexpr int kBusyTimeoutMs = 60000;

constexpr int kWalRetryMs = 5;

// The schema's version, kept in PRAGMA user_version; 0 is a new file.
constexpr int kSchemaVersion = 1;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (Unix).
constexpr std::int64_t kFileTimeEpochOffset = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

const char* const kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused: handles detect deletion
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  class BLOB NOT NULL DEFAULT x'',"
    "  written INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX keys_by_parent ON keys(parent, fold);"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX vals_by_key ON vals(key, fold);"
    "INSERT INTO keys(id, parent, name, fold) VALUES"
    "  (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    "  (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    "  (3, 0, 'HKEY_USERS', 'HKEY_USERS'),"
    "  (4, 0, 'HKEY_DYN_DATA', 'HKEY_DYN_DATA');";

const char* const kStatementText[] = {
    // kFindKey
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    // kInsertKey
    "INSERT INTO keys(parent, name, fold, class, written) VALUES(?1, ?2, ?3, ?4, ?5)",
    // kGetKey
    "SELECT parent, class, written FROM keys WHERE id = ?1",
    // kListKeys
    "SELECT name, class, written FROM keys WHERE parent = ?1 ORDER BY fold",
    // kHasSubkeys
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    // kDeleteKeyValues
    "DELETE FROM vals WHERE key = ?1",
    // kDeleteKeyRow
    "DELETE FROM keys WHERE id = ?1",
    // kDeleteTreeValues
    ("WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
     " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
     " DELETE FROM vals WHERE key IN tree"),
    // kDeleteTreeKeys
    ("WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
     " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
     " DELETE FROM keys WHERE id IN tree"),
    // kTouchKey
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    // kGetValue
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    // kSetValue: an existing value keeps its place (and its name's case).
    ("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
     " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"),
    // kDeleteValue
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    // kListValues
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    // kKeyCounts
    "SELECT count(*), max(length(name)), max(length(class)) FROM keys WHERE parent = ?1",
    // kValueCounts
    "SELECT count(*), max(length(name)), max(length(data)) FROM vals WHERE key = ?1",
};

// Binds a byte string as a blob; an empty one must still be a blob, not NULL.
void BindBytes(sqlite3_stmt* s, int index, std::string_view bytes) {
  static const char kEmpty = 0;
  sqlite3_bind_blob(s, index, bytes.empty() ? &kEmpty : bytes.data(),
                    static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* s, int column) {
  const void* p = sqlite3_column_blob(s, column);
  int n = sqlite3_column_bytes(s, column);
  return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

std::uint32_t ColumnU32(sqlite3_stmt* s, int column) {
  return static_cast<std::uint32_t>(sqlite3_column_int64(s, column));
}

// Resets a statement when the scope ends, so that no read stays open.
class Cursor {
 public:
  explicit Cursor(sqlite3_stmt* s) : s_(s) {}
  ~Cursor() {
    if (s_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

 private:
  sqlite3_stmt* s_;
};

struct SeedValue {
  const char* name;
  DWORD type;
  const char* text;
};

const SeedValue kSystemEnvironment[] = {
    {"ComSpec", REG_EXPAND_SZ, "%SystemRoot%\\system32\\cmd.exe"},
    {"OS", REG_SZ, "Windows_NT"},
    {"Path", REG_EXPAND_SZ, "%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem"},
    {"PATHEXT", REG_SZ, ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
    {"TEMP", REG_EXPAND_SZ, "%SystemRoot%\\TEMP"},
    {"TMP", REG_EXPAND_SZ, "%SystemRoot%\\TEMP"},
    {"windir", REG_EXPAND_SZ, "%SystemRoot%"},
};

const SeedValue kUserEnvironment[] = {
    {"Path", REG_EXPAND_SZ, "%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;"},
    {"TEMP", REG_EXPAND_SZ, "%USERPROFILE%\\AppData\\Local\\Temp"},
    {"TMP", REG_EXPAND_SZ, "%USERPROFILE%\\AppData\\Local\\Temp"},
};

}  // namespace

// ---- Names -----------------------------------------------------------------

void LeadBytes::Load(unsigned codePage) {
  for (int b = 0; b < 256; ++b)
    lead_[static_cast<std::size_t>(b)] =
        b >= 0x80 && IsDBCSLeadByteEx(codePage, static_cast<BYTE>(b)) != FALSE;
}

std::string LeadBytes::Fold(std::string_view name) const {
  std::string fold(name);
  for (std::size_t i = 0; i < fold.size(); ++i) {
    auto b = static_cast<unsigned char>(fold[i]);
    if (lead_[b]) {
      ++i;  // the trail byte stays as it is, even when it looks like a letter
    } else if (b >= 'a' && b <= 'z') {
      fold[i] = static_cast<char>(b - ('a' - 'A'));
    }
  }
  return fold;
}

std::size_t LeadBytes::CountChars(std::string_view name) const {
  std::size_t count = 0;
  for (std::size_t i = 0; i < name.size(); ++i, ++count)
    if (lead_[static_cast<unsigned char>(name[i])] && i + 1 < name.size()) ++i;
  return count;
}

// ---- Errors and time ---------------------------------------------------------

LONG Win32ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
      return ERROR_BADDB;
    default:  // I/O errors, a full disk, a lock never released, ...
      return ERROR_REGISTRY_IO_FAILED;
  }
}

std::int64_t FileTimeNow() {
  using namespace std::chrono;
  auto since = system_clock::now().time_since_epoch();
  return (duration_cast<nanoseconds>(since).count() / 100) + kFileTimeEpochOffset * kTicksPerSecond;
}

// ---- Connection and transactions -------------------------------------------

RegistryStore::~RegistryStore() {
  Close();
}

LONG RegistryStore::Open(const std::string& path, unsigned codePage) {
  Close();
  problem_.clear();
  lead_.Load(codePage);
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    LONG err = Win32ErrorFromSqlite(rc);
    std::string why = sqlite3_errstr(rc);
    if ((rc & 0xff) == SQLITE_CANTOPEN) {
      int cause = db_ ? sqlite3_system_errno(db_) : 0;
      err = cause == EACCES || cause == EPERM || cause == EROFS ? ERROR_ACCESS_DENIED
                                                                : ERROR_REGISTRY_IO_FAILED;
      if (cause != 0) why = std::strerror(cause);
    }
    Close();
    return Refuse(err, why);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Another program's file, or a registry of a layout this program does not
  // know, is refused before anything is written to it: turning it to WAL
  // would already change its header and leave files beside it.
  if (LONG err = CheckOwner()) {
    if (problem_.empty()) Refuse(err, sqlite3_errmsg(db_));
    Close();
    return err;
  }
  // WAL lets readers of the file (quillmark-reg, tests) look while a run is
  // writing. NORMAL synchronisation keeps every committed run across a killed
  // process; like Windows' lazy hive flush, it may lose the last runs at a
  // power cut but never leaves the file inconsistent.
  if (LONG err = SetWalMode()) {
    Refuse(err, sqlite3_errmsg(db_));
    Close();
    return err;
  }
  if (LONG err = Exec("PRAGMA synchronous=NORMAL")) {
    Refuse(err, sqlite3_errmsg(db_));
    Close();
    return err;
  }
  // A run ends by closing the store; folding the WAL back into the file at
  // every close would cost each run two fsyncs. The WAL is folded in when it
  // grows (SQLite's automatic checkpoint) instead.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  return ERROR_SUCCESS;
}

void RegistryStore::Close() {
  for (auto& s : statements_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (db_) {
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
  inTransaction_ = false;
  schemaChecked_ = false;
}

LONG RegistryStore::SetWalMode() {
  // Turning a new file to WAL takes its lock without always waiting through
  // the busy handler, so runs that start together on a new prefix retry here.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    int primary = rc & 0xff;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
        std::chrono::steady_clock::now() > deadline)
      return Fail(rc);
    std::this_thread::sleep_for(std::chrono::milliseconds(kWalRetryMs));
  }
}

LONG RegistryStore::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc);
}

LONG RegistryStore::Fail(int rc) {
  LONG err = Win32ErrorFromSqlite(rc);
  return err != ERROR_SUCCESS ? err : ERROR_REGISTRY_IO_FAILED;  // an answer no statement gives
}

LONG RegistryStore::Begin() {
  if (inTransaction_) return ERROR_SUCCESS;
  // Immediate: the run holds the write lock from its first call, so two runs
  // that each read and then write cannot interleave and lose an update.
  if (LONG err = Exec("BEGIN IMMEDIATE")) return Refuse(err, sqlite3_errmsg(db_));
  inTransaction_ = true;
  touched_.clear();
  if (!schemaChecked_) {
    if (LONG err = EnsureSchema()) {
      if (problem_.empty()) Refuse(err, sqlite3_errmsg(db_));
      Rollback();
      return err;
    }
    schemaChecked_ = true;
  }
  problem_.clear();
  return ERROR_SUCCESS;
}

LONG RegistryStore::Refuse(LONG err, std::string why) {
  problem_ = std::move(why);
  return err;
}

LONG RegistryStore::Commit() {
  if (!inTransaction_) return ERROR_SUCCESS;
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    LONG err = Fail(rc);
    Rollback();
    return err;
  }
  inTransaction_ = false;
  return ERROR_SUCCESS;
}

void RegistryStore::Rollback() {
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
}

bool RegistryStore::LostTransaction() const {
  return db_ && inTransaction_ && sqlite3_get_autocommit(db_);
}

LONG RegistryStore::SavepointBegin() {
  return Exec("SAVEPOINT call");
}

LONG RegistryStore::SavepointEnd(LONG status) {
  if (status == ERROR_SUCCESS) return Exec("RELEASE call");
  touched_.clear();  // the rollback may undo write times set inside the call
  if (!sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK TO call", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE call", nullptr, nullptr, nullptr);
  }
  return status;
}

LONG RegistryStore::CheckOwner() {
  // One statement, so one snapshot: read apart, another run could finish
  // making the store between them, and its tables would look foreign.
  std::string both;
  if (LONG err = QueryText("SELECT user_version || ' ' || (SELECT count(*) FROM sqlite_master) "
                           "FROM pragma_user_version",
                           &both))
    return err;
  const std::string version = both.substr(0, both.find(' '));
  if (version == std::to_string(kSchemaVersion)) return ERROR_SUCCESS;
  if (version != "0") return Refuse(ERROR_BADDB, "a registry of another layout (version " + version + ")");
  return both == "0 0" ? ERROR_SUCCESS : Refuse(ERROR_BADDB, "another program's database");
}

LONG RegistryStore::EnsureSchema() {
  // Inside the run's write transaction: what CheckOwner let through is either
  // this layout or empty, unless another run made it meanwhile.
  if (LONG err = CheckOwner()) return err;
  std::string version;
  if (LONG err = QueryText("PRAGMA user_version", &version)) return err;
  if (version == std::to_string(kSchemaVersion)) return ERROR_SUCCESS;
  if (LONG err = Exec(kSchema)) return err;
  if (LONG err = Seed()) return err;
  return Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

LONG RegistryStore::Seed() {
  // What a fresh Windows 10 has that the program touches.
  auto makePath = [&](KeyId root, std::string_view path, KeyId* out) -> LONG {
    KeyId id = root;
    while (!path.empty()) {
      std::size_t cut = path.find('\\');
      std::string_view part = path.substr(0, cut);
      path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
      bool created = false;
      if (LONG err = CreateChild(id, part, "", &id, &created)) return err;
    }
    *out = id;
    return ERROR_SUCCESS;
  };
  auto setText = [&](KeyId key, const SeedValue& v) {
    return SetValue(key, v.name, v.type, std::string_view(v.text, std::strlen(v.text) + 1));
  };
  KeyId key = 0;
  if (LONG err = makePath(kLocalMachineId,
                          "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", &key))
    return err;
  for (const SeedValue& v : kSystemEnvironment)
    if (LONG err = setText(key, v)) return err;
  if (LONG err = makePath(kCurrentUserId, "Environment", &key)) return err;
  for (const SeedValue& v : kUserEnvironment)
    if (LONG err = setText(key, v)) return err;
  if (LONG err = makePath(kLocalMachineId,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", &key))
    return err;
  // The keys behind HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG.
  if (LONG err = makePath(kLocalMachineId, kClassesRootPath, &key)) return err;
  return makePath(kLocalMachineId, kCurrentConfigPath, &key);
}

sqlite3_stmt* RegistryStore::Prepare(Statement which, LONG* status) {
  static_assert(std::size(kStatementText) == kStatementCount);
  sqlite3_stmt*& s = statements_[which];
  if (!s) {
    int rc =
        sqlite3_prepare_v3(db_, kStatementText[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) {
      *status = Fail(rc);
      s = nullptr;
      return nullptr;
    }
  }
  *status = ERROR_SUCCESS;
  return s;
}

LONG RegistryStore::QueryText(const char* sql, std::string* out) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
  if (rc != SQLITE_OK) return Fail(rc);
  rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(s, 0);
    *out = text ? reinterpret_cast<const char*>(text) : "";
    rc = SQLITE_OK;
  } else if (rc == SQLITE_DONE) {
    out->clear();
    rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc);
}

// ---- Keys ------------------------------------------------------------------

LONG RegistryStore::FindChild(KeyId parent, std::string_view name, KeyId* out) {
  LONG status;
  sqlite3_stmt* s = Prepare(kFindKey, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, parent);
  BindBytes(s, 2, lead_.Fold(name));
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    *out = sqlite3_column_int64(s, 0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

LONG RegistryStore::CreateChild(KeyId parent, std::string_view name, std::string_view keyClass,
                                KeyId* out, bool* created) {
  LONG status = FindChild(parent, name, out);
  if (status != ERROR_FILE_NOT_FOUND) {
    *created = false;
    return status;
  }
  sqlite3_stmt* s = Prepare(kInsertKey, &status);
  if (!s) return status;
  {
    Cursor c(s);
    std::int64_t now = FileTimeNow();
    sqlite3_bind_int64(s, 1, parent);
    BindBytes(s, 2, name);
    BindBytes(s, 3, lead_.Fold(name));
    BindBytes(s, 4, keyClass);
    sqlite3_bind_int64(s, 5, now);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  *out = sqlite3_last_insert_rowid(db_);
  *created = true;
  return Touch(parent);
}

LONG RegistryStore::GetKey(KeyId id, KeyRecord* out) {
  LONG status;
  sqlite3_stmt* s = Prepare(kGetKey, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    out->parent = sqlite3_column_int64(s, 0);
    out->keyClass = ColumnBytes(s, 1);
    out->written = sqlite3_column_int64(s, 2);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
}

LONG RegistryStore::ListSubkeys(KeyId id, std::vector<SubkeyEntry>* out) {
  LONG status;
  sqlite3_stmt* s = Prepare(kListKeys, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, id);
  out->clear();
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    out->push_back({ColumnBytes(s, 0), ColumnBytes(s, 1), sqlite3_column_int64(s, 2)});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG RegistryStore::HasSubkeys(KeyId id, bool* out) {
  LONG status;
  sqlite3_stmt* s = Prepare(kHasSubkeys, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
  *out = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteKey(KeyId id) {
  return DeleteWith(id, kDeleteKeyValues, kDeleteKeyRow);
}

LONG RegistryStore::DeleteTree(KeyId id) {
  return DeleteWith(id, kDeleteTreeValues, kDeleteTreeKeys);
}

LONG RegistryStore::DeleteWith(KeyId id, Statement values, Statement keys) {
  KeyRecord record;
  if (LONG err = GetKey(id, &record)) return err;
  LONG status;
  for (Statement which : {values, keys}) {
    sqlite3_stmt* s = Prepare(which, &status);
    if (!s) return status;
    Cursor c(s);
    sqlite3_bind_int64(s, 1, id);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  return Touch(record.parent);
}

LONG RegistryStore::Touch(KeyId id) {
  // A key's last-write time is that of the run's first change to it: runs
  // are short, and one update per key instead of per value halves the cost
  // of a large import.
  if (!touched_.insert(id).second) return ERROR_SUCCESS;
  LONG status;
  sqlite3_stmt* s = Prepare(kTouchKey, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_int64(s, 2, FileTimeNow());
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) {
    touched_.erase(id);
    return Fail(rc);
  }
  return ERROR_SUCCESS;
}

// ---- Values ----------------------------------------------------------------

LONG RegistryStore::GetValue(KeyId key, std::string_view name, std::uint32_t* type,
                             std::string* data) {
  LONG status;
  sqlite3_stmt* s = Prepare(kGetValue, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, key);
  BindBytes(s, 2, lead_.Fold(name));
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    *type = ColumnU32(s, 0);
    *data = ColumnBytes(s, 1);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

LONG RegistryStore::SetValue(KeyId key, std::string_view name, std::uint32_t type,
                             std::string_view data) {
  LONG status;
  sqlite3_stmt* s = Prepare(kSetValue, &status);
  if (!s) return status;
  {
    Cursor c(s);
    sqlite3_bind_int64(s, 1, key);
    BindBytes(s, 2, name);
    BindBytes(s, 3, lead_.Fold(name));
    sqlite3_bind_int64(s, 4, type);
    BindBytes(s, 5, data);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  return Touch(key);
}

LONG RegistryStore::DeleteValue(KeyId key, std::string_view name) {
  LONG status;
  sqlite3_stmt* s = Prepare(kDeleteValue, &status);
  if (!s) return status;
  {
    Cursor c(s);
    sqlite3_bind_int64(s, 1, key);
    BindBytes(s, 2, lead_.Fold(name));
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
  return Touch(key);
}

LONG RegistryStore::ListValues(KeyId key, std::vector<ValueEntry>* out) {
  LONG status;
  sqlite3_stmt* s = Prepare(kListValues, &status);
  if (!s) return status;
  Cursor c(s);
  sqlite3_bind_int64(s, 1, key);
  out->clear();
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    out->push_back({ColumnBytes(s, 0), ColumnU32(s, 1), ColumnBytes(s, 2)});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG RegistryStore::Counts(KeyId key, KeyCounts* out) {
  LONG status;
  for (Statement which : {kKeyCounts, kValueCounts}) {
    sqlite3_stmt* s = Prepare(which, &status);
    if (!s) return status;
    Cursor c(s);
    sqlite3_bind_int64(s, 1, key);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) return Fail(rc);
    if (which == kKeyCounts) {
      out->subkeys = ColumnU32(s, 0);
      out->maxSubkeyName = ColumnU32(s, 1);
      out->maxSubkeyClass = ColumnU32(s, 2);
    } else {
      out->values = ColumnU32(s, 0);
      out->maxValueName = ColumnU32(s, 1);
      out->maxValueData = ColumnU32(s, 2);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace emulated
