#pragma once
// The separator the library joins its own paths with: '\' on Windows, as
// stored settings and hosts there expect; '/' elsewhere.

namespace tarvelo {

#ifdef _WIN32
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

}  // namespace tarvelo
