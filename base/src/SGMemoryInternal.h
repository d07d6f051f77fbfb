// Internal to the base library: the fill routine of the wipe, replaceable so that tests can
// observe every pass.
#pragma once
#include <cstddef>

extern void* (*volatile gSGMemoryFill)(void*, int, size_t);
