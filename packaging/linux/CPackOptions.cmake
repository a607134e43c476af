# Read by cpack: a package manager's copy must not try to replace itself.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DROWSEWICK_SELF_UPDATE)
  message(FATAL_ERROR "The .deb needs a build configured with -DDROWSEWICK_SELF_UPDATE=OFF")
endif()
# The changelog the package carries must open with the version it packages.
file(STRINGS ${CPACK_DROWSEWICK_CHANGELOG} heading LIMIT_COUNT 1)
string(FIND "${heading}" "drowsewick (${CPACK_PACKAGE_VERSION}) " at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "${CPACK_DROWSEWICK_CHANGELOG} has no entry for ${CPACK_PACKAGE_VERSION} at its top")
endif()
