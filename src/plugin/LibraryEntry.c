/* libtarvelo.so is built from the whole of the library's archive; CMake
 * wants at least one source of the shared library's own. */
typedef int tarvelo_library_entry;
