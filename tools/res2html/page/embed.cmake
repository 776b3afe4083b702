# Writes OUT, a header holding the page's template HTML, its script (the files JS, in order,
# separated by |, as one) and the inflater it carries for browsers with none (INFLATER), as
# string constants.
file(READ ${HTML} html)
set(js "")
string(REPLACE "|" ";" parts "${JS}")
foreach(part ${parts})
    file(READ ${part} text)
    string(APPEND js "${text}")
endforeach()
file(READ ${INFLATER} inflater)
foreach(text html js inflater)
    string(FIND "${${text}}" ")page\"" clash)
    if(NOT clash EQUAL -1)
        message(FATAL_ERROR "${text} holds the raw string's end )page\"")
    endif()
endforeach()
foreach(text js inflater)
    string(FIND "${${text}}" "</script" inside)
    if(NOT inside EQUAL -1)
        message(FATAL_ERROR "${text} holds </script, which would end it inside the page")
    endif()
endforeach()
file(WRITE ${OUT}.new "// Made by the build from tools/res2html/page/ and ${INFLATER}.\n"
     "#pragma once\n\n"
     "inline constexpr char PAGE_HTML[] = R\"page(${html})page\";\n\n"
     "inline constexpr char PAGE_SCRIPT[] = R\"page(${js})page\";\n\n"
     "inline constexpr char PAGE_INFLATER[] = R\"page(${inflater})page\";\n")
file(RENAME ${OUT}.new ${OUT})
