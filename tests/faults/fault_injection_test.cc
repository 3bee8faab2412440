// Each registry call an environment operation makes, made to fail: reported, the Path and its type kept, no broadcast.
#include <gtest/gtest.h>

#include "env/envstore.h"
#include "env/pathlist.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/registry_store.h"
#include "support/registry_values.h"
#include "support/temp_prefix.h"

namespace qm {

TEST(FaultInjection, AFailingRegistryCallLeavesTheEnvironmentAsItWas) {
  qmtest::TempPrefix prefix;
  int (*const operations[])() = {[] { return SetEnvironmentValue("C:\\x", "Path", EnvScope::User); },
      [] { return AddPathToEnvironment("C:\\", "Path", EnvScope::User, PathPlacement::Start); },
      [] { return AddPathToRegistryValue("C:\\", "HKEY_CURRENT_USER\\Environment", "Path", PathPlacement::End); },
      [] { return RemovePathFromEnvironment("C:\\a", "Path", EnvScope::User); },
      [] { return DeleteEnvironmentValue("Path", EnvScope::User); }};
  for (const char* call : {"RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA"})
    for (auto& operation : operations) {
      qmtest::StoreValue(HKEY_CURRENT_USER, "Environment", "Path", REG_EXPAND_SZ, "C:\\a;%W%");
      const auto before = qmtest::QueryValue(HKEY_CURRENT_USER, "Environment", "Path");
      EnvironmentChanged = 0;
      emulated::InjectRegistryFault(call, ERROR_ACCESS_DENIED, 1);
      const int result = operation();
      if (emulated::TakeInjectedFault(call) != ERROR_SUCCESS) continue;  // a call the operation does not make
      EXPECT_TRUE(result && !EnvironmentChanged && qmtest::QueryValue(HKEY_CURRENT_USER, "Environment", "Path") == before)
          << call << " in operation " << &operation - operations;
    }
}

}  // namespace qm
