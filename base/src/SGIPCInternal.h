// Internal to the base library: the process-wide last IPC error that sockets, shared memory,
// semaphores and memory maps set.
#pragma once

void SGIPC_SetLastError(int code);
