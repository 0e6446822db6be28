# Read by cpack before it packs.

# The changelog must have an entry for the version packed.
file(STRINGS "${CPACK_VTO_CHANGELOG}" vto_first_line LIMIT_COUNT 1)
if(NOT vto_first_line MATCHES "^[a-z0-9.+-]+ \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog has no entry for version ${CPACK_PACKAGE_VERSION} "
                      "at its top (it starts: ${vto_first_line})")
endif()

# Depends: what dpkg-shlibdeps finds the binary linking, then each library the
# program opens at run time that it does not also link (a package named twice
# keeps the version that shlibdeps computed from the symbols used).
include(${CPACK_VTO_BINARY_FILE})
# dpkg-shlibdeps wants a debian/control where it runs.
set(vto_dir ${CPACK_VTO_SHLIBDEPS_DIR})
file(MAKE_DIRECTORY ${vto_dir}/debian)
file(TOUCH ${vto_dir}/debian/control)
execute_process(COMMAND dpkg-shlibdeps -O ${VTO_BINARY}
                WORKING_DIRECTORY ${vto_dir}
                OUTPUT_VARIABLE vto_shlibs RESULT_VARIABLE vto_result ERROR_VARIABLE vto_error)
if(NOT vto_result EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps ${VTO_BINARY} failed: ${vto_error}")
endif()
string(REGEX REPLACE "^.*shlibs:Depends=([^\n]*).*$" "\\1" vto_shlibs "${vto_shlibs}")
string(REPLACE ", " ";" vto_depends "${vto_shlibs}")
foreach(vto_dep IN LISTS CPACK_VTO_RUNTIME_DEPENDS)
  string(REGEX REPLACE " .*" "" vto_name "${vto_dep}")
  if(NOT vto_shlibs MATCHES "(^|, )${vto_name}( |,|$)")
    list(APPEND vto_depends "${vto_dep}")
  endif()
endforeach()
list(JOIN vto_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
