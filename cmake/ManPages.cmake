# add_man_page(SOURCE): the man page SOURCE (NAME.1.in, in a program's room) with the help every
# program shares put in by the man-page generator, compressed as Debian installs it into
# man/NAME.1.gz of the build, and installed.
function(add_man_page source)
    get_filename_component(page ${source} NAME)
    string(REGEX REPLACE "\\.in$" "" page ${page})
    set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND man-page ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${PROJECT_BINARY_DIR}/man/${page}
        COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${page}
        DEPENDS man-page ${CMAKE_CURRENT_SOURCE_DIR}/${source})
    add_custom_target(man_${page} ALL DEPENDS ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
