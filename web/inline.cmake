# Puts the page's style sheet and script into its HTML shell (cmake -P, called by the build). The
# script's modules (JS: their files, separated by "|") are written as they are in Node: each gets
# its own scope with `require`, `module` and `exports`, and is run when first required; the last
# one starts the page. The page is downloaded whole at every load, so lines that are only a
# comment and the indentation go; what is left reads as before (no line holds a string that goes
# on to the next).
file(READ ${IN} page)
file(READ ${CSS} css)
string(REPLACE "|" ";" modules "${JS}")
set(js "")
foreach(module ${modules})
  get_filename_component(name ${module} NAME_WE)
  file(READ ${module} code)
  string(APPEND js "defined['./${name}'] = (require, module, exports) => {\n${code}\n};\n")
  set(last ${name})
endforeach()
set(js "(() => {
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
string(REGEX REPLACE "/\\*[^*]*\\*/" "" css "${css}")
foreach(part js css)
  string(REGEX REPLACE "\n[ \t]+" "\n" ${part} "${${part}}")
  string(REGEX REPLACE "\n\n+" "\n" ${part} "${${part}}")
endforeach()
string(REPLACE "/*PAGE_CSS*/" "${css}" page "${page}")
string(REPLACE "/*PAGE_JS*/" "${js}" page "${page}")
file(WRITE ${OUT} "${page}")
