# Puts the page's style sheet and script into its HTML shell (cmake -P, called by the build).
file(READ ${IN} page)
file(READ ${CSS} css)
file(READ ${JS} js)
string(REPLACE "/*PAGE_CSS*/" "${css}" page "${page}")
string(REPLACE "/*PAGE_JS*/" "${js}" page "${page}")
file(WRITE ${OUT} "${page}")
