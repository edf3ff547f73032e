# The help book marovane.htb: the HTML pages, pictures, project and contents
# files of resources/help, zipped at build time into the folder beside the
# program. The help viewer reads the zip through the toolkit's archive file
# system; the project file (marovane.hhp) sits at the top of the archive.
set(MAROVANE_HELP_DIR ${CMAKE_SOURCE_DIR}/resources/help)
set(MAROVANE_HELP_BOOK ${MAROVANE_BIN_DIR}/marovane.htb)
file(GLOB MAROVANE_HELP_FILES CONFIGURE_DEPENDS RELATIVE ${MAROVANE_HELP_DIR}
  ${MAROVANE_HELP_DIR}/*.hhp ${MAROVANE_HELP_DIR}/*.hhc ${MAROVANE_HELP_DIR}/*.html ${MAROVANE_HELP_DIR}/*.png)
list(SORT MAROVANE_HELP_FILES)
list(TRANSFORM MAROVANE_HELP_FILES PREPEND ${MAROVANE_HELP_DIR}/ OUTPUT_VARIABLE MAROVANE_HELP_PATHS)
add_custom_command(OUTPUT ${MAROVANE_HELP_BOOK}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MAROVANE_BIN_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${MAROVANE_HELP_BOOK}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${MAROVANE_HELP_BOOK} --format=zip -- ${MAROVANE_HELP_FILES}
  WORKING_DIRECTORY ${MAROVANE_HELP_DIR}
  DEPENDS ${MAROVANE_HELP_PATHS}
  COMMENT "Zipping the help book into ${MAROVANE_HELP_BOOK}"
  VERBATIM)
add_custom_target(marovane_help_book DEPENDS ${MAROVANE_HELP_BOOK})
