# Copies the diagram library's bundle and licence from resources/mermaid/node_modules into the
# build tree. Run with -DSOURCE_DIR=<resources/mermaid> -DDEST_DIR=<folder>.
set(bundle ${SOURCE_DIR}/node_modules/mermaid/dist/mermaid.min.js)
set(licence ${SOURCE_DIR}/node_modules/mermaid/LICENSE)
if(NOT EXISTS ${bundle})
  message(FATAL_ERROR
    "\nThe Mermaid library is missing: ${bundle} does not exist.\n"
    "Run `npm ci` in ${SOURCE_DIR} (./dev does this) and build again.\n")
endif()
file(COPY_FILE ${bundle} ${DEST_DIR}/mermaid.min.js ONLY_IF_DIFFERENT)
file(COPY_FILE ${licence} ${DEST_DIR}/LICENSE ONLY_IF_DIFFERENT)
