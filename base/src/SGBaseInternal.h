// Internal to the base library.
#pragma once

// Formats "Version : %s, Build Date : %s %s" into a component's own 1024-byte buffer and
// returns it. The date and time are those of the build of base.
const char* SGBase_FormatBuildInfo(char (&buffer)[1024], const char* version);

// Stand-ins for table slots whose component is not built yet: an error of each return kind.
extern "C" long SGBase_PendingInt(void);
extern "C" void* SGBase_PendingPtr(void);
extern "C" double SGBase_PendingDouble(void);
