# SWRAST_DRI: Mesa's software rasteriser, which the sanitizer build preloads into the programs that
# draw when the tests run them (see gl_program_env in tests/support/child.h); empty otherwise.
if(RESVIEW_SANITIZE)
    find_file(SWRAST_DRI swrast_dri.so
              PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/dri /usr/lib/dri /usr/lib64/dri
              NO_DEFAULT_PATH)
    if(NOT SWRAST_DRI)
        message(FATAL_ERROR "the sanitizer build preloads Mesa's software rasteriser swrast_dri.so "
                            "for the end-to-end tests, and it was not found: install "
                            "libgl1-mesa-dri (scripts/install-deps does)")
    endif()
else()
    set(SWRAST_DRI "")
endif()
