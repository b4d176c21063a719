#pragma once
// Keeping secrets (keys, passwords) inside the process: no core file that holds them, no
// reading of the process's memory by the user's other processes, key pages out of swap.
#include <cstddef>
#include <cstdint>

// Makes the process not dumpable (no core file; /proc/PID/mem and ptrace closed to the
// user's other processes) and sets its core file limit to 0. First thing in main. False
// when a step failed; the program goes on, as there is nothing else to be done.
bool KeepSecretsInProcess();

// Locks the pages that hold p[0..n) in memory where RLIMIT_MEMLOCK allows (doing without,
// quietly, where it does not) and leaves them out of any core dump. The pages stay so.
void LockSecretPages(const void* p, size_t n);

// A 32-byte slot for a key on pages locked once for the whole process: nullptr when all
// are taken. A returned slot is wiped.
uint8_t* TakeSecretSlot();
void ReturnSecretSlot(uint8_t* slot);
