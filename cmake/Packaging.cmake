# The Debian package: the programs, their man pages and the licence as Debian's machine-readable
# copyright file; its dependencies are the shared libraries the programs link against.

# LICENSE (MIT) as the copyright file, where the MIT licence is called "Expat": the holder from its
# copyright line, the text after it indented one space, its blank lines as " .".
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(copyright_holder "")
set(license_body "")
set(after_holder FALSE)
foreach(line IN LISTS license_lines)
    if(line MATCHES "^Copyright \\(c\\) (.*)$")
        set(copyright_holder "${CMAKE_MATCH_1}")
        set(after_holder TRUE)
    elseif(after_holder)
        if(line STREQUAL "")
            string(APPEND license_body "\n .")
        else()
            string(APPEND license_body "\n ${line}")
        endif()
    endif()
endforeach()
string(REGEX REPLACE "^\n \\.\n" "\n" license_body "${license_body}")
# res2html carries pako's inflater into every page it writes: its holders and its zlib licence,
# from Debian's node-pako.
find_file(PAKO_COPYRIGHT copyright PATHS /usr/share/doc/node-pako NO_DEFAULT_PATH REQUIRED)
file(READ ${PAKO_COPYRIGHT} pako_copyright)
if(NOT pako_copyright MATCHES "\nLicense: Zlib\n( [^\n]*\n)+")
    message(FATAL_ERROR "${PAKO_COPYRIGHT} holds no text of the zlib licence")
endif()
string(STRIP "${CMAKE_MATCH_0}" zlib_license)
file(WRITE ${PROJECT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: resview\n\n"
     "Files: *\nCopyright: ${copyright_holder}\nLicense: Expat${license_body}\n\n"
     "Files: usr/bin/res2html\n"
     "Copyright: 2014-2017 Vitaly Puzrin, 2014-2017 Andrei Tuputcyn,\n"
     " 1995-2013 Jean-loup Gailly, 1995-2013 Mark Adler\n"
     "License: Expat and Zlib\n"
     "Comment: the inflater of pako 2.1, which res2html writes into each page, besides the\n"
     " project's own code (Files: *)\n\n"
     "${zlib_license}\n")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME resview)
set(CPACK_PACKAGE_VENDOR "resview developers")
set(CPACK_PACKAGE_CONTACT "resview maintainers <maintainers@users.noreply.c-seed-d81554da.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "viewer for numbered series of 2D triangle-mesh result files")
set(CPACK_PACKAGE_DESCRIPTION
    "resview shows the result series res0000.inp .. res01010.inp that a simulation writes as red
triangle outlines and node points, turned with the mouse and arrow keys and stepped through with
N and B. rescheck checks a series before it is viewed; resrender renders it to PNG pictures and
animated GIFs with no display; res2vtk converts it into a ParaView time series; res2html makes
it one web page that any browser opens; resdiff compares two series; resview-sample-series
writes a sample series.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
