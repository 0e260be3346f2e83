# dist/: what a site installs, Tarvelo.dll alone (Qt, libjpeg-turbo and the
# MinGW runtime are inside it). Built with the library.
set(DIST_DIR ${CMAKE_BINARY_DIR}/dist)
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tarvelo> ${DIST_DIR}/
  DEPENDS tarvelo
  COMMENT "Staging dist/ with Tarvelo.dll")
