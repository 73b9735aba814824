# Writes a manual page from a program's own --help, so that the two never part:
#   cmake -DPROGRAM=... -DNAME=... -DSUMMARY=... -DVERSION=... -DOUT=... -P man-from-help.cmake
# OUT is written gzip-compressed (without a time stamp, so the package builds
# the same each time).
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        QT_QPA_PLATFORM=xcb ${PROGRAM} --help
                OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
# SYNOPSIS: the help's usage lines, the first and those under it that name the
# program again.
string(REGEX MATCH "[Uu]sage: [^\n]*(\n +${NAME} [^\n]*)*" usage "${help}")
string(REGEX REPLACE "^[Uu]sage: " "" usage "${usage}")
string(REGEX REPLACE "\n +" "\n" usage "${usage}")
string(REPLACE "\\" "\\e" usage "${usage}")
string(REPLACE "-" "\\-" usage "${usage}")
string(REPLACE "\n" "\n.br\n" usage "${usage}")
string(REPLACE "-" "\\-" STATUS "${STATUS}")
# roff: a backslash is written \e; a line may not start with a dot or a quote.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
# SEE ALSO names the other two programs, not the page's own.
set(others)
foreach(program quillon quillon-render brindle-host)
    if(NOT program STREQUAL NAME)
        string(REPLACE "-" "\\-" page "${program}")
        list(APPEND others "\\fB${page}\\fR(1)")
    endif()
endforeach()
list(JOIN others ", " others)
file(WRITE ${OUT}.tmp
".TH ${NAME} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH SYNOPSIS
${usage}
.SH DESCRIPTION
The text that \\fB${NAME} \\-\\-help\\fR prints:
.PP
.nf
${help}.fi
.SH EXIT STATUS
${STATUS}
.SH SEE ALSO
${others}
")
execute_process(COMMAND gzip -9nf ${OUT}.tmp RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed")
endif()
file(RENAME ${OUT}.tmp.gz ${OUT})
