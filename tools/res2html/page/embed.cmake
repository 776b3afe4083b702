# Writes OUT, a header holding the page's template HTML and its script, the files JS (in order,
# separated by |) as one, as string constants.
file(READ ${HTML} html)
set(js "")
string(REPLACE "|" ";" parts "${JS}")
foreach(part ${parts})
    file(READ ${part} text)
    string(APPEND js "${text}")
endforeach()
foreach(text html js)
    string(FIND "${${text}}" ")page\"" clash)
    if(NOT clash EQUAL -1)
        message(FATAL_ERROR "${text} holds the raw string's end )page\"")
    endif()
endforeach()
string(FIND "${js}" "</script" inside)
if(NOT inside EQUAL -1)
    message(FATAL_ERROR "page.js holds </script, which would end it inside the page")
endif()
file(WRITE ${OUT}.new "// Made by the build from tools/res2html/page/.\n#pragma once\n\n"
     "inline constexpr char PAGE_HTML[] = R\"page(${html})page\";\n\n"
     "inline constexpr char PAGE_SCRIPT[] = R\"page(${js})page\";\n")
file(RENAME ${OUT}.new ${OUT})
