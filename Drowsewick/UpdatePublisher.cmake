# Makes the update signers reachable from code as UpdatePublisher.h. The public key setting holds
# either the PEM text or the path of a PEM file.
if(EXISTS "${DROWSEWICK_UPDATE_PUBLIC_KEY}")
  file(READ "${DROWSEWICK_UPDATE_PUBLIC_KEY}" DROWSEWICK_UPDATE_PUBLIC_KEY_TEXT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${DROWSEWICK_UPDATE_PUBLIC_KEY}")
else()
  set(DROWSEWICK_UPDATE_PUBLIC_KEY_TEXT "${DROWSEWICK_UPDATE_PUBLIC_KEY}")
endif()
configure_file(UpdatePublisher.h.in ${CMAKE_CURRENT_BINARY_DIR}/generated/UpdatePublisher.h @ONLY)
target_include_directories(DrowsewickLib PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
