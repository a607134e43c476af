# How Drowsewick is packaged: the macOS bundle's property lists, and on Linux the installed layout
# and the .deb that CPack makes from it.

set(DROWSEWICK_BUNDLE_NAME "Drowsewick")
set(DROWSEWICK_BUNDLE_IDENTIFIER "com.nimbrel.drowsewick")
# Made from packaging/linux/drowsewick.svg by packaging/macos/make-icon.
set(DROWSEWICK_BUNDLE_ICON ${CMAKE_CURRENT_LIST_DIR}/macos/Drowsewick.icns)
get_filename_component(DROWSEWICK_BUNDLE_ICON_NAME ${DROWSEWICK_BUNDLE_ICON} NAME)
# Made on every platform, so that the tests here check the property list a Mac build uses.
set(DROWSEWICK_INFO_PLIST ${CMAKE_BINARY_DIR}/packaging/macos/Info.plist)
configure_file(${CMAKE_CURRENT_LIST_DIR}/macos/Info.plist.in ${DROWSEWICK_INFO_PLIST} @ONLY)

# The rest is the Linux flavour's; a Mac build is the bundle above.
if(APPLE OR NOT DROWSEWICK_PLATFORM STREQUAL "linux")
  return()
endif()

# The executables stay together: drowsewick looks for safari-standin in its own folder. A
# per-user install that updates itself puts them in lib/Drowsewick.app, the bundle it replaces.
set(DROWSEWICK_INSTALL_APPDIR "lib/drowsewick" CACHE STRING "Folder below the install prefix for drowsewick and safari-standin")

# bin/drowsewick: a relative link, so the installed tree can be moved or staged whole.
file(RELATIVE_PATH launcher_target /bin /${DROWSEWICK_INSTALL_APPDIR}/drowsewick)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/linux)
file(CREATE_LINK ${launcher_target} ${CMAKE_BINARY_DIR}/packaging/linux/drowsewick SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/linux/drowsewick DESTINATION bin)

# The launcher as one argument of a desktop entry's Exec key: quoted, with the characters that
# are special inside the quotes escaped, then the key file's own escapes.
set(exec "${CMAKE_INSTALL_PREFIX}/bin/drowsewick")
foreach(special "\\" "\"" "`" "$")
  string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
string(REPLACE "%" "%%" DROWSEWICK_DESKTOP_EXEC "${exec}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/drowsewick.desktop.in ${CMAKE_BINARY_DIR}/packaging/linux/drowsewick.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/linux/drowsewick.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/drowsewick.svg DESTINATION share/icons/hicolor/scalable/apps)

# The manual page, the changelog and the copyright file, the first two compressed as Debian's
# tools do it: at the highest level, without a name or a time stamp.
set(DROWSEWICK_STANDIN_PATH ${CMAKE_INSTALL_PREFIX}/${DROWSEWICK_INSTALL_APPDIR}/safari-standin)
set(docs ${CMAKE_BINARY_DIR}/packaging/linux)
configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/drowsewick.1.in ${docs}/drowsewick.1 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/changelog ${docs}/changelog COPYONLY)
add_custom_command(OUTPUT ${docs}/drowsewick.1.gz ${docs}/changelog.gz
  COMMAND gzip -9 --no-name --keep --force ${docs}/drowsewick.1 ${docs}/changelog
  DEPENDS ${docs}/drowsewick.1 ${docs}/changelog)
add_custom_target(drowsewick-docs ALL DEPENDS ${docs}/drowsewick.1.gz ${docs}/changelog.gz)
install(FILES ${docs}/drowsewick.1.gz DESTINATION share/man/man1)
install(FILES ${docs}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/linux/copyright DESTINATION share/doc/drowsewick)

# cpack -G DEB, from a build configured with -DCMAKE_INSTALL_PREFIX=/usr -DDROWSEWICK_SELF_UPDATE=OFF.
set(CPACK_PACKAGE_NAME "drowsewick")
set(CPACK_PACKAGE_VENDOR "Nimbrel")
set(CPACK_PACKAGE_CONTACT "Nimbrel <drowsewick@nimbrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Archives and closes idle Safari tabs")
# Wrapped for Debian: no line of the long description may be longer than 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "\
Drowsewick remembers when each open Safari tab was last the current tab of
its window. A tab left idle for a week (or as long as you choose) is written
to a Markdown archive, one line with its title and address, and only then
closed. The archive browser searches every archived tab and opens it again.

Drowsewick is made for Safari on macOS. On Linux it drives safari-standin, a
stand-in for Safari and its script engine that comes with it.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${DROWSEWICK_PRODUCT_HOST}/drowsewick")
# The Qt libraries come from Debian's own packages; the platform plug-ins are loaded, not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# A package manager updates the .deb; a build that replaced itself would fight it.
set(CPACK_DROWSEWICK_SELF_UPDATE ${DROWSEWICK_SELF_UPDATE})
set(CPACK_DROWSEWICK_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/linux/changelog)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/linux/CPackOptions.cmake)
include(CPack)
