# Puts the page's style sheet and script into its HTML shell (cmake -P, called by the build). The
# page is downloaded whole at every load, so lines that are only a comment and the indentation go;
# what is left reads as before (no line holds a string that goes on to the next).
file(READ ${IN} page)
file(READ ${CSS} css)
file(READ ${JS} js)
string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" js "${js}")
string(REGEX REPLACE "/\\*[^*]*\\*/" "" css "${css}")
foreach(part js css)
  string(REGEX REPLACE "\n[ \t]+" "\n" ${part} "${${part}}")
  string(REGEX REPLACE "\n\n+" "\n" ${part} "${${part}}")
endforeach()
string(REPLACE "/*PAGE_CSS*/" "${css}" page "${page}")
string(REPLACE "/*PAGE_JS*/" "${js}" page "${page}")
file(WRITE ${OUT} "${page}")
