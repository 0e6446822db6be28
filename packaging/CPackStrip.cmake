# Run by cpack on the staged files before it packs them: strips the program as
# Debian's own packages are stripped, also of the .comment and .note sections,
# which only name the compilers.
file(GLOB vto_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(vto_program IN LISTS vto_programs)
  execute_process(COMMAND ${CPACK_VTO_STRIP} --remove-section=.comment --remove-section=.note
                          ${vto_program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
