// Internal to the base library.
#pragma once

// Formats "Version : %s, Build Date : %s %s" into a component's own 1024-byte buffer and
// returns it. The date and time are those of the build of base.
const char* SGBase_FormatBuildInfo(char (&buffer)[1024], const char* version);
