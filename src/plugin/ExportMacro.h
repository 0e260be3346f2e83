#pragma once
// Marks the nine functions the library exports; its version script hides
// every other symbol.
#define TARVELO_EXPORT extern "C" __attribute__((visibility("default")))
