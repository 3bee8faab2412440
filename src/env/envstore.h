// The persistent environment: the system's and the current user's variables
// in the registry, and the announcement of a change at the end of a run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Whose variables: System (0, the default) or User (1). Any nonzero byte
// means the user's.
enum class EnvScope : std::uint8_t { System = 0, User = 1 };
// Where an added directory goes: End only for the byte 1, Start otherwise.
enum class PathPlacement : std::uint8_t { Start = 0, End = 1 };

// Set to 1 by every successful SetEnvironmentValue / DeleteEnvironmentValue
// and by the driver for -refresh; read only by BroadcastEnvironmentChange.
extern std::uint8_t EnvironmentChanged;

// True on the Windows NT family, false on Windows 95/98/ME (top bit of the
// GetVersion word set).
bool IsWindowsNT();

// 0 read into `out` (the text before the stored terminator); 1 the scope's
// key could not be opened; 2 no such variable (also: an empty name, a value
// too large to read).
int GetEnvironmentValue(std::string& out, std::string_view name, EnvScope scope);
// Stores the variable (created as REG_SZ when new; an existing REG_EXPAND_SZ
// keeps its type). 0 stored, sets EnvironmentChanged; 1 the key could not be
// created or opened; 2 not stored (also: an empty name, or the type of the
// value in place could not be learnt).
int SetEnvironmentValue(std::string_view text, std::string_view name, EnvScope scope);
// 0 deleted, sets EnvironmentChanged; 1 key missing or not opened (nothing is
// created); 2 no such variable (also: an empty name), or not deleted.
int DeleteEnvironmentValue(std::string_view name, EnvScope scope);
// When EnvironmentChanged is set: on NT, WM_SETTINGCHANGE "Environment" to all
// top-level windows; on Windows 9x/ME, the reboot request on the output.
void BroadcastEnvironmentChange();

}  // namespace qm
