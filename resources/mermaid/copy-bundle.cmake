# Copies the diagram library's module build (its entry and the chunks it loads, diagram kinds
# among them only when a source asks for one) and its licence from
# resources/mermaid/node_modules into the build tree, and lists them in mermaid_engine.qrc there.
# Run with -DSOURCE_DIR=<resources/mermaid> -DDEST_DIR=<folder>.
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
string(APPEND qrc "    <file alias=\"mermaid-LICENSE\">LICENSE</file>\n  </qresource>\n</RCC>\n")
# Written only when it changes, so that the resources are compiled again only then.
file(CONFIGURE OUTPUT ${DEST_DIR}/mermaid_engine.qrc CONTENT "${qrc}" @ONLY)
