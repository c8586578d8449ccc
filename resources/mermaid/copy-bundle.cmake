# Copies the diagram library's module build (its entry and the chunks it loads, diagram kinds
# among them only when a source asks for one) and its licence from
# resources/mermaid/node_modules into the build tree, and lists them in mermaid_engine.qrc there.
# Run with -DSOURCE_DIR=<resources/mermaid> -DDEST_DIR=<folder>.
cmake_minimum_required(VERSION 3.25)
set(dist ${SOURCE_DIR}/node_modules/mermaid/dist)
set(entry ${dist}/mermaid.esm.min.mjs)
set(licence ${SOURCE_DIR}/node_modules/mermaid/LICENSE)
if(NOT EXISTS ${entry})
  message(FATAL_ERROR
    "\nThe Mermaid library is missing: ${entry} does not exist.\n"
    "Run `npm ci` in ${SOURCE_DIR} (./dev does this) and build again.\n")
endif()
file(GLOB chunks RELATIVE ${dist} ${dist}/chunks/mermaid.esm.min/*.mjs)
list(SORT chunks)
set(files mermaid.esm.min.mjs ${chunks})
set(qrc "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/mermaid\">\n")
foreach(f ${files})
  get_filename_component(dir ${DEST_DIR}/${f} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  file(COPY_FILE ${dist}/${f} ${DEST_DIR}/${f} ONLY_IF_DIFFERENT)
  string(APPEND qrc "    <file>${f}</file>\n")
endforeach()
file(COPY_FILE ${licence} ${DEST_DIR}/LICENSE ONLY_IF_DIFFERENT)

# The starter is a flowchart, and its first render loads the flowchart kind, the layout engine
# (1.6 MB) and the renderer one after another on the page's one thread. preload.js asks for them,
# and for the modules they import, while the library itself loads, so that they are fetched and
# compiled by then. Their names carry a hash of the release, so they are found here.
function(chunk_named pattern out)
  file(GLOB found RELATIVE ${dist}/chunks/mermaid.esm.min ${dist}/chunks/mermaid.esm.min/${pattern})
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "Expected one Mermaid chunk named ${pattern}, found ${count}: ${found}")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
# The modules that the given ones import, statically, at any depth, the given ones included.
function(module_closure out)
  set(seen)
  set(queue ${ARGN})
  while(queue)
    list(POP_FRONT queue name)
    if(name IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${name})
    file(READ ${dist}/chunks/mermaid.esm.min/${name} text)
    string(REGEX MATCHALL "(from|import) ?\"\\./[A-Za-z0-9_.-]+\\.mjs\"" imports "${text}")
    foreach(i ${imports})
      string(REGEX REPLACE ".*\"\\./([^\"]+)\"" "\\1" imported "${i}")
      list(APPEND queue ${imported})
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()
file(READ ${entry} entry_text)
string(REGEX MATCHALL "from ?\"\\./chunks/mermaid\\.esm\\.min/[A-Za-z0-9_.-]+\\.mjs\"" entry_imports "${entry_text}")
set(entry_chunks)
foreach(i ${entry_imports})
  string(REGEX REPLACE ".*/([^/\"]+)\"" "\\1" imported "${i}")
  list(APPEND entry_chunks ${imported})
endforeach()
module_closure(loaded_anyway ${entry_chunks})
chunk_named("flowDiagram-*.mjs" flow_chunk)
chunk_named("elk-*.mjs" layout_chunk)
chunk_named("render-*.mjs" render_chunk)
module_closure(first_render ${flow_chunk} ${layout_chunk} ${render_chunk})
list(REMOVE_ITEM first_render ${loaded_anyway})
string(CONCAT preload "// Made by copy-bundle.cmake: the modules the starter flowchart's first render needs.\n"
  "(function () {\n  \"use strict\";\n  [")
set(separator "")
foreach(name ${first_render})
  string(APPEND preload "${separator}\"${name}\"")
  set(separator ", ")
endforeach()
string(APPEND preload "].forEach(function (name) {\n"
  "    var link = document.createElement(\"link\");\n"
  "    link.rel = \"modulepreload\";\n"
  "    link.href = \"chunks/mermaid.esm.min/\" + name;\n"
  "    document.head.appendChild(link);\n"
  "  });\n})();\n")
file(CONFIGURE OUTPUT ${DEST_DIR}/preload.js CONTENT "${preload}" @ONLY)
string(APPEND qrc "    <file>preload.js</file>\n")

string(APPEND qrc "    <file alias=\"mermaid-LICENSE\">LICENSE</file>\n  </qresource>\n</RCC>\n")
# Written only when it changes, so that the resources are compiled again only then.
file(CONFIGURE OUTPUT ${DEST_DIR}/mermaid_engine.qrc CONTENT "${qrc}" @ONLY)
