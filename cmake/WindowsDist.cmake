# dist/: Tarvelo.dll and everything it needs beside it, which a site copies
# next to its host program: Qt's DLLs and plug-ins, libjpeg and the MinGW
# runtime. Built with the library.
set(DIST_DIR ${CMAKE_BINARY_DIR}/dist)
find_package(Qt6 REQUIRED COMPONENTS Core)
get_filename_component(QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)

function(mingw_runtime_dll name out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${path}")
    find_file(path ${name} PATHS /usr/${CMAKE_CXX_COMPILER_TARGET} /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  mingw_runtime_dll(libgcc_s_dw2-1.dll LIBGCC_DLL)
else()
  mingw_runtime_dll(libgcc_s_seh-1.dll LIBGCC_DLL)
endif()
mingw_runtime_dll(libstdc++-6.dll LIBSTDCXX_DLL)
mingw_runtime_dll(libwinpthread-1.dll WINPTHREAD_DLL)

set(DIST_FILES
  ${QT_PREFIX}/bin/Qt6Core.dll ${QT_PREFIX}/bin/Qt6Gui.dll ${QT_PREFIX}/bin/Qt6Widgets.dll ${QT_PREFIX}/bin/Qt6Sql.dll
  ${TARVELO_WINDOWS_PREFIX}/bin/libjpeg-62.dll ${LIBGCC_DLL} ${LIBSTDCXX_DLL} ${WINPTHREAD_DLL})
set(DIST_PLUGINS platforms/qwindows.dll sqldrivers/qsqlite.dll sqldrivers/qsqlodbc.dll
  styles/qwindowsvistastyle.dll)

set(DIST_COMMANDS COMMAND ${CMAKE_COMMAND} -E make_directory ${DIST_DIR})
foreach(plugin ${DIST_PLUGINS})
  get_filename_component(sub ${plugin} DIRECTORY)
  list(APPEND DIST_COMMANDS COMMAND ${CMAKE_COMMAND} -E make_directory ${DIST_DIR}/${sub}
       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QT_PREFIX}/plugins/${plugin} ${DIST_DIR}/${sub}/)
endforeach()
add_custom_target(dist ALL
  ${DIST_COMMANDS}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DIST_FILES} $<TARGET_FILE:tarvelo> ${DIST_DIR}/
  DEPENDS tarvelo
  COMMENT "Staging dist/ with Tarvelo.dll and what it needs")
