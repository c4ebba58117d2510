# The installed programs and their library folder, in the build tree and under the prefix.
#
#   bin/selvanore-preview, bin/selvanore-play
#   lib/selvanore/Selvanore.so, libwin32.so, selvanore-preview-video.so
#   lib/selvanore/windows/Selvanore.dll, selvanore-wine-helper.exe    with the Windows build
#   share/man/man1/selvanore-preview.1.gz, selvanore-play.1.gz          when help2man is there
#   share/doc/selvanore-tools/copyright
#
# (lib is GNUInstallDirs' CMAKE_INSTALL_LIBDIR.) The programs find the folder from their own
# place (tools/lib/common/ProgramPaths.h) and the libraries through a run path relative to their
# own file, so an install works wherever its prefix is. Everything belongs to the component
# "tools", which the Debian package holds, but the Windows files, which are the component
# "wine": the package leaves them out, as it cannot depend on the cross build.

set(selvanore_programs selvanore-preview selvanore-play)

# The build tree's library folder holds what an install's does, as links into the build, so
# the programs find their module there by the same rule.
add_custom_target(selvanore_library_folder ALL
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:Selvanore>
    ${SELVANORE_BUILD_LIBRARY_FOLDER}/$<TARGET_FILE_NAME:Selvanore>
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:win32>
    ${SELVANORE_BUILD_LIBRARY_FOLDER}/$<TARGET_FILE_NAME:win32>
  VERBATIM)
add_dependencies(selvanore_library_folder Selvanore win32)
foreach(program IN LISTS selvanore_programs)
  add_dependencies(${program} selvanore_library_folder)
endforeach()

set(selvanore_wine_folder ${SELVANORE_BUILD_LIBRARY_FOLDER}/windows)
file(REMOVE_RECURSE ${selvanore_wine_folder})
if(SELVANORE_HAVE_WINE_BUILD)
  # Links made now, to files the Windows build makes when it is built.
  file(MAKE_DIRECTORY ${selvanore_wine_folder})
  file(CREATE_LINK ${SELVANORE_WINE_DLL} ${selvanore_wine_folder}/Selvanore.dll SYMBOLIC)
  file(CREATE_LINK ${SELVANORE_WINE_HELPER_EXE} ${selvanore_wine_folder}/selvanore-wine-helper.exe SYMBOLIC)
endif()

# In the build tree the run path names the stand-in's own folder; an install names the library
# folder. Both are relative to the file ($ORIGIN), and the same strings in any build folder.
set_target_properties(${selvanore_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${SELVANORE_LIBRARY_FROM_PROGRAM}")
set_target_properties(Selvanore PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${selvanore_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS Selvanore win32 selvanore-preview-video
  LIBRARY DESTINATION ${SELVANORE_INSTALL_LIBRARY_DIR} COMPONENT tools)
if(SELVANORE_HAVE_WINE_BUILD)
  install(FILES ${SELVANORE_WINE_DLL} ${SELVANORE_WINE_HELPER_EXE}
    DESTINATION ${SELVANORE_INSTALL_LIBRARY_DIR}/windows COMPONENT wine)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/tools/release/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${SELVANORE_PACKAGE_NAME} COMPONENT tools)

# The manual pages, from each program's --help. The default module's folder in the help is the
# build tree's; the page names the install's instead, so it is the same wherever the build is.
find_program(SELVANORE_HELP2MAN help2man)
find_program(SELVANORE_GZIP gzip)
if(SELVANORE_HELP2MAN AND SELVANORE_GZIP)
  set(selvanore_pages)
  set(selvanore-preview_summary "write the Selvanore visualization's frames as an animation, images or a video")
  set(selvanore-play_summary "show the Selvanore visualization in a window as a sound plays")
  foreach(program IN LISTS selvanore_programs)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND}
        -DHELP2MAN=${SELVANORE_HELP2MAN} -DGZIP=${SELVANORE_GZIP}
        -DPROGRAM=$<TARGET_FILE:${program}> -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page}
        "-DSUMMARY=${${program}_summary}"
        -DBUILD_FOLDER=${SELVANORE_BUILD_LIBRARY_FOLDER}/
        -DINSTALL_FOLDER=${CMAKE_INSTALL_FULL_LIBDIR}/selvanore/
        -P ${PROJECT_SOURCE_DIR}/cmake/ManualPage.cmake
      DEPENDS ${program} selvanore_library_folder ${PROJECT_SOURCE_DIR}/cmake/ManualPage.cmake
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND selvanore_pages ${page})
  endforeach()
  add_custom_target(selvanore_manual_pages ALL DEPENDS ${selvanore_pages})
  install(FILES ${selvanore_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
elseif(SELVANORE_RELEASE)
  message(FATAL_ERROR "The release's manual pages need help2man and gzip (scripts/setup installs them).")
else()
  message(STATUS "No manual pages: help2man or gzip is missing")
endif()
