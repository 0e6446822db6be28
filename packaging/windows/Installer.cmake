# The Windows installer (`make windows-installer`): CPack's NSIS generator with
# the project's own script, which installs for all users under Program Files or
# for the current user alone, puts "Veltra Online" in the Start menu, and
# brings an uninstaller. /S installs silently; /AllUsers or /CurrentUser picks
# the kind of install without asking.

install(TARGETS LaunchVeltraOnline RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION doc)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION doc RENAME copyright.txt)
# OpenSSL is linked into the program: its licence goes with it.
if(EXISTS ${VTO_WINDOWS_OPENSSL}/LICENSE.txt)
  install(FILES ${VTO_WINDOWS_OPENSSL}/LICENSE.txt DESTINATION doc RENAME OpenSSL-LICENSE.txt)
endif()

# cpack installs the program without building the test suites first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME LaunchVeltraOnline)
set(CPACK_PACKAGE_VENDOR "The LaunchVeltraOnline developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher for the Veltra Online client")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Veltra Online")
set(CPACK_PACKAGE_FILE_NAME "LaunchVeltraOnline-${PROJECT_VERSION}-setup")
set(CPACK_NSIS_DISPLAY_NAME "Veltra Online")
set(CPACK_STRIP_FILES TRUE)
# Our NSIS.template.in in place of CPack's own.
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
include(CPack)
