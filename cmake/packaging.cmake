# Installation and packages. Windows: one flat folder, as the updater finds
# dodudav.dll and the message tables in its own folder; packaged as a zip.
# Linux: the same folder under lib/veupd, with the programs linked into bin;
# packaged as a Debian package.
include(GNUInstallDirs)

set(veupd_message_files
    ${VEUPD_OUT_DIR}/MSG.STR ${VEUPD_OUT_DIR}/MSGE.DAT ${VEUPD_OUT_DIR}/MSGE.IDX
    ${VEUPD_OUT_DIR}/MSGD.DAT ${VEUPD_OUT_DIR}/MSGD.IDX)

if(WIN32)
  set(veupd_program_dir .)
  set(veupd_doc_dir doc)
else()
  set(veupd_program_dir ${CMAKE_INSTALL_LIBDIR}/veupd)
  set(veupd_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/veupd)
endif()

foreach(target veupd veupd-tool)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${veupd_program_dir})
  endif()
endforeach()
if(TARGET dodudav)
  install(TARGETS dodudav RUNTIME DESTINATION ${veupd_program_dir} LIBRARY DESTINATION ${veupd_program_dir})
endif()
# A cross build that cannot run veupd-tool takes the tables (plain data, the
# same on every system) from another build's output folder.
set(VEUPD_MESSAGE_TABLES_DIR "" CACHE PATH "Folder with prebuilt message tables to install (cross builds without an emulator)")
if(TARGET message_tables)
  install(FILES ${veupd_message_files} DESTINATION ${veupd_program_dir})
elseif(VEUPD_MESSAGE_TABLES_DIR)
  foreach(file MSG.STR MSGE.DAT MSGE.IDX MSGD.DAT MSGD.IDX)
    install(FILES ${VEUPD_MESSAGE_TABLES_DIR}/${file} DESTINATION ${veupd_program_dir})
  endforeach()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/control-file.md ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${veupd_doc_dir})

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/veupd.1 ${PROJECT_SOURCE_DIR}/docs/veupd-tool.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # bin/veupd -> ../lib/veupd/veupd: the program directory is where the link
  # points, so the pointer component and the tables are found.
  file(RELATIVE_PATH veupd_bin_to_prog /${CMAKE_INSTALL_BINDIR} /${veupd_program_dir})
  foreach(program veupd veupd-tool)
    install(CODE "
      set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(MAKE_DIRECTORY \"\${bin}\")
      file(CREATE_LINK \"${veupd_bin_to_prog}/${program}\" \"\${bin}/${program}\" SYMBOLIC)")
  endforeach()
endif()

set(CPACK_PACKAGE_NAME veupd)
set(CPACK_PACKAGE_VENDOR "VeUpd")
set(CPACK_PACKAGE_CONTACT "VeUpd maintainers <veupd@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Update runner for an installed application, with its authoring tool")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
