// The built-in engines' mode loops, registered beside their block functions.
#pragma once

#include "SGCipherModes.h"

namespace brindlow::crypto {

void seedRunMode(const ModeRun& run);
void ariaRunMode(const ModeRun& run);
void leaRunMode(const ModeRun& run);
void aesRunMode(const ModeRun& run);
void desRunMode(const ModeRun& run);
void tdesRunMode(const ModeRun& run);
void rc2RunMode(const ModeRun& run);
void rc4RunMode(const ModeRun& run);

// AES: true when the processor's AES instructions are in use. Tests turn them off to compare
// both paths; nothing else does.
bool aesUsesHardware();
void aesSetHardware(bool enabled);

// ARIA: true when sixteen blocks at a time go through the processor's GFNI instructions. Tests
// turn them off to compare both paths; nothing else does.
bool ariaUsesGfni();
void ariaSetGfni(bool enabled);

}  // namespace brindlow::crypto
