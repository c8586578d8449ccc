# The installed program: the binary, its desktop entry, AppStream metainfo, the Mermaid file type
# and the icon at the hicolor sizes (rendered from the SVG at build time).
include(GNUInstallDirs)
set(QUORRIX_APP_ID example.quorrix.Quorrix)
set(desktop_dir ${CMAKE_SOURCE_DIR}/resources/desktop)

add_executable(quorrix-render-icon ${CMAKE_SOURCE_DIR}/cmake/RenderIcon.cpp)
target_link_libraries(quorrix-render-icon PRIVATE Qt6::Gui Qt6::Svg)

set(icon_svg ${CMAKE_SOURCE_DIR}/resources/icons/quorrix.svg)
set(icon_pngs)
foreach(size 16 24 32 48 64 128 256 512)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}/${QUORRIX_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}
    COMMAND quorrix-render-icon ${icon_svg} ${size} ${png}
    DEPENDS quorrix-render-icon ${icon_svg} VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quorrix-icons ALL DEPENDS ${icon_pngs})

install(TARGETS quorrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quorrix-web-tools LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quorrix)
install(TARGETS quorrix-jwt-checks LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quorrix)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QUORRIX_APP_ID}.svg)
install(FILES ${desktop_dir}/${QUORRIX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/${QUORRIX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${desktop_dir}/quorrix-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${QUORRIX_APP_ID}.xml)
