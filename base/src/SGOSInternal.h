// Internal to the operating-system layer: the number mappings, shared by its sources and
// checked by its tests.
#pragma once

#include <sys/types.h>

namespace sgos {

// Library open flags -> platform open flags.
int openFlags(int flags);
// Library permission bits -> platform mode bits.
mode_t permissions(int bits);
// Library signal number -> platform signal; 0 for a number without a signal.
int signalNumber(int number);
// Library dlopen mode -> platform mode.
int dlopenMode(int mode);
// Library seek origin -> platform whence.
int seekOrigin(int origin);
// Type flags of a directory entry from the platform's entry type. An unknown type is resolved
// with fstatat on the directory's descriptor (a link stays a link); no flags when that fails.
unsigned char entryTypeFlags(unsigned char platformType, int dirFd, const char* name);

}  // namespace sgos
