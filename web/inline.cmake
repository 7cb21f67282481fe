# Puts the page's style sheet and script into its HTML shell (cmake -P, called by the build). The
# script's modules (JS: their files, separated by "|") are written as they are in Node: each gets
# its own scope with `require`, `module` and `exports`, and is run when first required, in strict
# mode as the whole script is; the last one starts the page.
#
# The page is downloaded whole at every load, so what only makes the sources easy to read goes:
# the indentation, the script's lines that are only a comment and a comment after the ";" or ","
# that ends a line's code, the style sheet's comments and the spaces around its punctuation. What
# is left reads as before: no line of the script holds a string that goes on to the next, nor
# " // " in a string after such a mark, and no quoted font name in the style a space after
# punctuation.
file(READ ${IN} page)
file(READ ${CSS} css)
string(REPLACE "|" ";" modules "${JS}")
set(js "")
foreach(module ${modules})
  get_filename_component(name ${module} NAME_WE)
  file(READ ${module} code)
  string(REPLACE "'use strict';\n" "" code "${code}")
  string(APPEND js "defined['./${name}'] = (require, module, exports) => {\n${code}\n};\n")
  set(last ${name})
endforeach()
set(js "(() => {
'use strict';
const defined = {};
const loaded = {};
const require = (name) => {
  if (!loaded[name]) {
    loaded[name] = { exports: {} };
    defined[name](require, loaded[name], loaded[name].exports);
  }
  return loaded[name].exports;
};
${js}require('./${last}');
})();
")
string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" js "${js}")
string(REGEX REPLACE "([;,])[ \t]+// [^\n]*" "\\1" js "${js}")
string(REGEX REPLACE "/\\*[^*]*\\*/" "" css "${css}")
string(REGEX REPLACE "([:;,{]) +" "\\1" css "${css}")
string(REGEX REPLACE " +([{}])" "\\1" css "${css}")
foreach(part js css)
  string(REGEX REPLACE "\n[ \t]+" "\n" ${part} "${${part}}")
  string(REGEX REPLACE "\n\n+" "\n" ${part} "${${part}}")
endforeach()
# The markup's indentation goes too: a line end still parts what it parted.
string(REGEX REPLACE "\n[ \t]+" "\n" page "${page}")
string(REPLACE "/*PAGE_CSS*/" "${css}" page "${page}")
string(REPLACE "/*PAGE_JS*/" "${js}" page "${page}")
file(WRITE ${OUT} "${page}")
