# The tests of the Windows build, the same for x86-64 and i686. Programs run
# under Wine through scripts/windows/wine-run (one prefix and wineserver for
# the whole run, a 32-bit prefix for i686); the end-to-end and export checks
# are Python on the Linux side. The Windows stage of scripts/run-tests runs
# them inside an X server.
find_package(GTest REQUIRED)
set(WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/windows/wine-run)
set(TARVELO_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build-test
    CACHE PATH "a Linux build, whose matrix-sim is the far end of the COM port")
set(TARVELO_MATRIX_SIM ${TARVELO_LINUX_BUILD}/tools/matrix-sim/matrix-sim)
set(ARCH ${CMAKE_SYSTEM_PROCESSOR})

# The platform-independent tests that build without GStreamer (the capture
# service over scripted drivers included), and the Windows platform code.
add_executable(windows_unit_tests
  support/QtTestMain.cpp support/TempDir.cpp
  framework/GbkTextTest.cpp framework/IniFileTest.cpp framework/ConnectionStringTest.cpp framework/FileBesideWindowsTest.cpp
  framework/SqlServerOdbcWindowsTest.cpp
  capture/VideoCapTest.cpp capture/LoggingCaptureService.cpp capture/device/ScriptedDriver.cpp
  serial/LineDrainTest.cpp serial/MSerialPortTest.cpp capture/device/painted/PaintedSessionTest.cpp settings/IniDataTest.cpp
  playback/PlayerFormatsTest.cpp capture/device/directshow/WindowsDriversTest.cpp)
target_include_directories(windows_unit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(windows_unit_tests PRIVATE tarvelo_core GTest::gtest)
# Its windows are on the offscreen platform, as on Linux.
qt_import_plugins(windows_unit_tests INCLUDE Qt6::QOffscreenIntegrationPlugin Qt6::QSQLiteDriverPlugin
                  Qt6::QODBCDriverPlugin)
# Wine names Linux paths from drive Z:, the root.
target_compile_definitions(windows_unit_tests PRIVATE PYTHON3="python3"  # its tests stay on Linux
  TARVELO_MEDIA_LIST="Z:${CMAKE_CURRENT_SOURCE_DIR}/playback/media.txt")
add_test(NAME windows.media COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/playback/media.py ${CMAKE_BINARY_DIR}/media)
set_tests_properties(windows.media PROPERTIES FIXTURES_SETUP media)
add_test(NAME windows.unit COMMAND ${WINE_RUN} $<TARGET_FILE:windows_unit_tests>)
set_tests_properties(windows.unit PROPERTIES FIXTURES_REQUIRED media FIXTURES_SETUP recording
  ENVIRONMENT "TARVELO_TEST_MEDIA=Z:${CMAKE_BINARY_DIR}/media;TARVELO_TEST_OUTPUT=Z:${CMAKE_BINARY_DIR}/output;LANG=zh_CN.UTF-8")

# The recording windows.unit made under Wine, read by ffprobe here.
add_test(NAME windows.recording COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/capture/device/directshow/probe_recording.py
         ${CMAKE_BINARY_DIR}/output/录像-有声.avi)
set_tests_properties(windows.recording PROPERTIES FIXTURES_REQUIRED recording)
add_test(NAME windows.long_recording COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/capture/device/directshow/probe_recording.py
         --long ${CMAKE_BINARY_DIR}/output/long.avi)
set_tests_properties(windows.long_recording PROPERTIES FIXTURES_REQUIRED recording)

add_test(NAME windows.exports COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/plugin/check_exports.py
         --version ${PROJECT_VERSION} ${ARCH}:${CMAKE_BINARY_DIR}/dist/Tarvelo.dll)

# Beside the host under the names of common DLLs: loaded, it ends the host.
add_library(decoy SHARED plugin/decoy_dll.c)
set_target_properties(decoy PROPERTIES PREFIX "" OUTPUT_NAME decoy)

add_test(NAME windows.win32_host COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/plugin/win32_host_test.py
         --build ${CMAKE_BINARY_DIR} --matrix-sim ${TARVELO_MATRIX_SIM} --shots ${CMAKE_BINARY_DIR}/shots
         --decoy $<TARGET_FILE:decoy>)
set_tests_properties(windows.win32_host PROPERTIES TIMEOUT 600)

# The virtual site's tour with this build, as `scripts/run-demo windows` runs it.
add_test(NAME windows.tour COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/tour --windows ${CMAKE_BINARY_DIR}
         --build ${TARVELO_LINUX_BUILD} --work ${CMAKE_BINARY_DIR}/tour)
set_tests_properties(windows.tour PROPERTIES TIMEOUT 600)

# Each program under Wine runs in the prefix of its own architecture.
set_tests_properties(windows.media windows.unit windows.recording windows.long_recording windows.exports windows.win32_host windows.tour
                     PROPERTIES ENVIRONMENT_MODIFICATION "TARVELO_WINE_ARCH=set:${ARCH}")
