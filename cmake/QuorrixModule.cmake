# quorrix_module(<name> [TOOL <class>] [LOGIC_LIBS ...] [UI_LIBS ...] [WEB_LIBS ...]
#                [LOGIC_RESOURCES ...] [UI_RESOURCES ...])
# A module is one folder: its logic (QtCore, QtGui where a model touches the clipboard)
# from the folder itself as library <name>, its widgets from ui/ as library <name>_ui, and its
# web views (if any) from web/ as library <name>_web.
# Files are globbed, so adding a class needs no edit here.
# TOOL names the tool's entry of the sidebar, the class of ui/<class>.h; a tool with web views
# also has web/<class>WebViews.h, whose static add() gives ToolViewMakers its makers. The program
# finds both through the tool's folder name in QUORRIX_TOOLS (src/CMakeLists.txt).
#
# Each library gets an include root of its own in the build tree that holds only its headers
# (linked to the sources, under their path below src/), so "tools/json/JSONFormatter.h" is
# found only by code that links quorrix_json: an undeclared dependency fails to build.
function(quorrix_expose_headers target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(RELATIVE_PATH rel ${QUORRIX_SRC_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(header ${ARGN})
    get_filename_component(header_name ${header} NAME)
    get_filename_component(header_dir ${header} DIRECTORY)
    file(RELATIVE_PATH sub ${CMAKE_CURRENT_SOURCE_DIR} ${header_dir})
    set(link ${root}/${rel}/${sub}/${header_name})
    if(NOT EXISTS ${link})
      get_filename_component(link_dir ${link} DIRECTORY)
      file(MAKE_DIRECTORY ${link_dir})
      file(CREATE_LINK ${header} ${link} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

function(quorrix_module name)
  cmake_parse_arguments(M "" "TOOL"
    "LOGIC_LIBS;LOGIC_PRIVATE;UI_LIBS;UI_PRIVATE;WEB_LIBS;WEB_PRIVATE;LOGIC_RESOURCES;UI_RESOURCES" ${ARGN})
  file(GLOB logic_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB logic_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB ui_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
  file(GLOB ui_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
  file(GLOB web_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/web/*.h)
  file(GLOB web_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/*.h)
  add_library(${name} STATIC ${logic_sources} ${M_LOGIC_RESOURCES})
  quorrix_expose_headers(${name} ${logic_headers})
  # *_LIBS are what the library's headers expose; *_PRIVATE only its sources use.
  target_link_libraries(${name} PUBLIC Qt6::Core ${M_LOGIC_LIBS} PRIVATE Qt6::Concurrent ${M_LOGIC_PRIVATE})
  if(ui_sources)
    add_library(${name}_ui STATIC ${ui_sources} ${M_UI_RESOURCES})
    quorrix_expose_headers(${name}_ui ${ui_headers})
    target_link_libraries(${name}_ui PUBLIC ${name} Qt6::Widgets ${M_UI_LIBS} PRIVATE ${M_UI_PRIVATE})
  endif()
  if(M_TOOL)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/ui/${M_TOOL}.h)
      message(FATAL_ERROR "${name}: TOOL ${M_TOOL} needs ui/${M_TOOL}.h, the tool's class.")
    endif()
    set_target_properties(${name}_ui PROPERTIES QUORRIX_TOOL_CLASS ${M_TOOL})
  endif()
  # Web views are a library of their own, so that only what shows a web page links the engine.
  if(web_sources)
    add_library(${name}_web STATIC ${web_sources})
    quorrix_expose_headers(${name}_web ${web_headers})
    target_link_libraries(${name}_web PUBLIC ${name}_ui ${M_WEB_LIBS} PRIVATE ${M_WEB_PRIVATE})
    if(M_TOOL)
      if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/web/${M_TOOL}WebViews.h)
        message(FATAL_ERROR "${name}: a tool's web/ holds ${M_TOOL}WebViews.h, which adds its views.")
      endif()
      set_target_properties(${name}_web PROPERTIES QUORRIX_WEB_VIEWS_CLASS ${M_TOOL}WebViews)
    endif()
  endif()
endfunction()

# quorrix_loads_library(<program> <module>): a program that loads one of the project's MODULE
# libraries while it runs, found beside it or in its installation (ProgramLibrary). The program
# exports its symbols, so that the library's copies of the shared code resolve to the program's
# (one meta-object per class, one work pool), and builds the library along; built outside the
# build tree's top folder, where the libraries are made, it gets a link to the library beside it.
function(quorrix_loads_library target module)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  add_dependencies(${target} ${module})
  get_target_property(folder ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT folder)
    set(folder ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(NOT folder STREQUAL CMAKE_BINARY_DIR)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${module}> $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_NAME:${module}>
      VERBATIM)
  endif()
endfunction()
