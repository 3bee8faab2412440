// The emulated machine's registry store: a tree of keys and their values in
// one SQLite file (registry.db in the prefix), used by the Reg* functions of
// registry_api.cc. Internal to the emulated machine.
//
// Keys are rows with a parent; the predefined roots are fixed rows. A name is
// kept as the bytes it was created with and found through its fold: ASCII
// letters upper-cased, a double-byte character (lead and trail byte in the
// machine's ANSI code page) copied unchanged. Folds also give the order of
// subkey enumeration; values enumerate in the order they were first set.
//
// Every call returns 0 or a Win32 error code. The store opens no transaction
// by itself: the machine begins one at the run's first registry call (Begin)
// and commits it at the run's end (Commit).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/emulated/win32_emulated.h"

struct sqlite3;
struct sqlite3_stmt;

namespace emulated {

using KeyId = std::int64_t;

// The fixed rows of the predefined roots. HKEY_CLASSES_ROOT and
// HKEY_CURRENT_CONFIG are keys under HKEY_LOCAL_MACHINE.
constexpr KeyId kLocalMachineId = 1;
constexpr KeyId kCurrentUserId = 2;
constexpr KeyId kUsersId = 3;
constexpr KeyId kDynDataId = 4;
constexpr KeyId kLastRootId = kDynDataId;

constexpr const char* kClassesRootPath = "SOFTWARE\\Classes";
constexpr const char* kCurrentConfigPath = "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";

struct SubkeyEntry {
  std::string name;
  std::string keyClass;
  std::int64_t written = 0;  // FILETIME ticks of the last change
};

struct ValueEntry {
  std::string name;
  std::uint32_t type = 0;
  std::string data;
};

struct KeyRecord {
  KeyId parent = 0;
  std::string keyClass;
  std::int64_t written = 0;
};

struct KeyCounts {
  std::uint32_t subkeys = 0, maxSubkeyName = 0, maxSubkeyClass = 0;
  std::uint32_t values = 0, maxValueName = 0, maxValueData = 0;
};

// Which bytes of the machine's ANSI code page lead a double-byte character.
class LeadBytes {
 public:
  void Load(unsigned codePage);
  bool IsLead(unsigned char b) const { return lead_[b]; }
  // The fold of a name: the key under which names are compared and sorted.
  std::string Fold(std::string_view name) const;
  // Characters in a name, a double-byte character counting once.
  std::size_t CountChars(std::string_view name) const;

 private:
  std::array<bool, 256> lead_{};
};

class RegistryStore {
 public:
  RegistryStore() = default;
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Opens registry.db at `path`, creating the file if it is missing. The
  // schema and the seed are made by the first Begin() on a new file.
  LONG Open(const std::string& path, unsigned codePage);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  bool InTransaction() const { return inTransaction_; }
  // Why the latest Open() or Begin() failed, in words ("file is not a
  // database", "another program's database"); "" after a success.
  const std::string& Problem() const { return problem_; }

  // BEGIN IMMEDIATE (waiting for other runs), then the schema check.
  LONG Begin();
  LONG Commit();
  void Rollback();
  // True when SQLite itself abandoned the transaction after an error, so the
  // run's earlier changes are gone.
  bool LostTransaction() const;

  // A savepoint around one call that runs several statements, so that a
  // failure in the middle leaves nothing of that call behind.
  LONG SavepointBegin();
  LONG SavepointEnd(LONG status);

  const LeadBytes& lead() const { return lead_; }

  LONG FindChild(KeyId parent, std::string_view name, KeyId* out);
  // Creates the child (0, *created true) or finds it (0, *created false).
  LONG CreateChild(KeyId parent, std::string_view name, std::string_view keyClass, KeyId* out,
                   bool* created);
  // 0 with the record, ERROR_KEY_DELETED when the key no longer exists.
  LONG GetKey(KeyId id, KeyRecord* out);
  LONG ListSubkeys(KeyId id, std::vector<SubkeyEntry>* out);
  LONG HasSubkeys(KeyId id, bool* out);
  // Removes a key without subkeys, with its values.
  LONG DeleteKey(KeyId id);
  // Removes a key with everything below it.
  LONG DeleteTree(KeyId id);

  // 0 with the value, ERROR_FILE_NOT_FOUND when there is none.
  LONG GetValue(KeyId key, std::string_view name, std::uint32_t* type, std::string* data);
  LONG SetValue(KeyId key, std::string_view name, std::uint32_t type, std::string_view data);
  LONG DeleteValue(KeyId key, std::string_view name);
  LONG ListValues(KeyId key, std::vector<ValueEntry>* out);
  LONG Counts(KeyId key, KeyCounts* out);

 private:
  enum Statement {
    kFindKey,
    kInsertKey,
    kGetKey,
    kListKeys,
    kHasSubkeys,
    kDeleteKeyValues,
    kDeleteKeyRow,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kTouchKey,
    kGetValue,
    kSetValue,
    kDeleteValue,
    kListValues,
    kKeyCounts,
    kValueCounts,
    kStatementCount
  };

  sqlite3_stmt* Prepare(Statement which, LONG* status);
  LONG Exec(const char* sql);
  LONG SetWalMode();
  // The first column of the first row of a statement, as text.
  LONG QueryText(const char* sql, std::string* out);
  LONG Fail(int rc);
  // Records why the store cannot be used, for Problem().
  LONG Refuse(LONG err, std::string why);
  // Deletes a key's values and rows through the two statements given.
  LONG DeleteWith(KeyId id, Statement values, Statement keys);
  LONG Touch(KeyId id);
  // ERROR_BADDB, with the reason, for a file that is not an empty one or ours.
  LONG CheckOwner();
  LONG EnsureSchema();
  LONG Seed();

  sqlite3* db_ = nullptr;
  std::array<sqlite3_stmt*, kStatementCount> statements_{};
  LeadBytes lead_;
  bool inTransaction_ = false;
  bool schemaChecked_ = false;
  std::string problem_;
  std::unordered_set<KeyId> touched_;  // keys whose write time this run has set
};

// Maps an SQLite result to the Win32 error the registry calls return.
LONG Win32ErrorFromSqlite(int rc);

// The current time as FILETIME ticks (100 ns since 1601).
std::int64_t FileTimeNow();

// ---- Machine services for registry_api.cc (machine.cc) ---------------------

// The store, open and inside the run's transaction; or the error that keeps
// the registry from being used (the prefix cannot be made, the file is
// corrupt, an earlier failure lost the run's changes).
LONG AcquireRegistry(RegistryStore** store);
// After a failing store call: if the run's transaction is gone, every later
// registry call of the run fails too, and FinishRun reports it.
void NoteStoreFailure();
// A fault a test asked for with InjectRegistryFault, or 0.
LONG TakeInjectedFault(const char* call);
// True when the machine's version word is a Windows 9x one.
bool IsWindows9x();
// Drops every open key handle (registry_api.cc).
void ResetRegistryHandles();
// Bumped whenever the store may have changed under open handles, so that
// cached enumerations are rebuilt.
std::uint64_t StoreGeneration();
void BumpStoreGeneration();

}  // namespace emulated
