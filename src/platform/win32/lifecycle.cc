// On Windows the registry keeps every change as it is made: nothing is left
// to commit when a run ends.
#include "platform/lifecycle.h"

namespace port {

void TakeMachineTurn() {}

long FinishRun() {
  return 0;
}

}  // namespace port
