# Read by cpack: a package manager's copy must not try to replace itself.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DROWSEWICK_SELF_UPDATE)
  message(FATAL_ERROR "The .deb needs a build configured with -DDROWSEWICK_SELF_UPDATE=OFF")
endif()
