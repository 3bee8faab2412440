// What main() asks of the platform at the end of a run.
#pragma once

namespace port {

// Makes the run's changes durable. On Windows the registry already holds
// them and this returns 0; on the emulated machine it commits the run's
// registry transaction and returns 0 or the Win32 error that stopped it.
long FinishRun();

}  // namespace port
