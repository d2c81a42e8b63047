# rio_install_program(target): a program goes to bin/ when installed and, with
# RIO_MANPAGES, gets its manual page from packaging/man/: with <program>.h2m,
# help2man writes the page from the program's own --help and --version, so it
# never lists an option the program lacks, and adds the sections of the .h2m
# (the NAME line, and what --help has no room for); a page written by hand,
# <program>.1.in, gets the version and date filled in. A new program's folder
# calls this after add_executable and adds its .h2m.
include(GNUInstallDirs)

option(RIO_MANPAGES "Install a manual page per program (help2man writes most from --help)" OFF)
if(RIO_MANPAGES)
  find_program(RIO_HELP2MAN help2man REQUIRED)
endif()

set(RIO_MAN_SOURCES ${CMAKE_CURRENT_LIST_DIR}/man)
# The date on a page written by hand: the release's date when the package
# build gives one (SOURCE_DATE_EPOCH), so the page is the same on every build.
string(TIMESTAMP RIO_MAN_DATE "%B %Y" UTC)

function(rio_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT RIO_MANPAGES)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(include ${RIO_MAN_SOURCES}/${target}.h2m)
  set(by_hand ${RIO_MAN_SOURCES}/${target}.1.in)
  if(EXISTS ${include})
    # The programs run here with no display; a sanitizer build must not fail
    # the page on leaks at exit.
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${RIO_HELP2MAN} --no-info --section=1 --include=${include} --output=${page}
              $<TARGET_FILE:${target}>
      DEPENDS ${target} ${include}
      COMMENT "Writing the manual page of ${target}"
      VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${page})
  elseif(EXISTS ${by_hand})
    configure_file(${by_hand} ${page} @ONLY)
  else()
    message(FATAL_ERROR "${target} has neither ${include} nor ${by_hand}")
  endif()
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
