# cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=... -DVERSION=... -DSUMMARY=... -DOUTPUT=FILE.1.gz
#       -DBUILD_FOLDER=... -DINSTALL_FOLDER=... -P ManualPage.cmake
#
# Writes a program's manual page from its --help with help2man, with the build tree's library
# folder replaced by the install's, compressed without a name or date in the header. help2man
# dates the page by SOURCE_DATE_EPOCH when it is set, so the release's pages are the same bytes
# on every build.
set(page ${OUTPUT}.tmp)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${VERSION}
    "--name=${SUMMARY}" --output=${page} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
file(READ ${page} text)
# help2man writes each '-' of the help as the roff escape '\-'.
string(REPLACE "-" "\\-" build_folder "${BUILD_FOLDER}")
string(REPLACE "-" "\\-" install_folder "${INSTALL_FOLDER}")
string(REPLACE "${build_folder}" "${install_folder}" text "${text}")
string(REPLACE "${BUILD_FOLDER}" "${INSTALL_FOLDER}" text "${text}")
file(WRITE ${page} "${text}")
execute_process(COMMAND ${GZIP} -9 -n -c ${page} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
file(REMOVE ${page})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}")
endif()
