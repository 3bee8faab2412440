// What main() asks of the platform at the end of a run.
#pragma once

namespace port {

// Waits for this run's turn on the machine and keeps it until FinishRun:
// while one run has its turn, no other run of the program on the machine
// reads or changes the registry or the startup files, so that none loses
// another's update of a list. The driver takes it before the first option
// that may work on the machine; the launcher and -run never do, so that a
// program they start may itself run Quillmark. Taking it again does nothing.
void TakeMachineTurn();

// Makes the run's changes durable and gives the machine's turn back. On
// Windows the registry already holds them and this returns 0; on the
// emulated machine it commits the run's registry transaction and returns 0
// or the Win32 error that stopped it.
long FinishRun();

}  // namespace port
