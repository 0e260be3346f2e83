#pragma once
// Marks the nine functions the library exports. On Linux its version
// script hides every other symbol; on Windows its .def file names the nine
// and their ordinals, and nothing else is exported.
#ifdef _WIN32
#define TARVELO_EXPORT extern "C"
#else
#define TARVELO_EXPORT extern "C" __attribute__((visibility("default")))
#endif
