# Installation (cmake --install build --prefix P). The program, vantrel-cli and the libraries
# lie side by side in P/lib/vantrel, as they do in build/bin: the install rpath $ORIGIN links
# them, and the program's install folder (the folder of the running executable) is where it
# loads libqmvinfo.so, libqmvplyex.so and libSkin.so from. P/bin holds links to the two
# executables (the executable's folder is found through the link). Then the desktop entry, the
# icon, the MIME type of ".qmv" clips and the manual page.
set(VANTREL_INSTALL_DIR lib/vantrel)

install(TARGETS vantrel vantrel-cli RUNTIME DESTINATION ${VANTREL_INSTALL_DIR})

# Every shared library of the deliverables (qmvedit, qmvinfo, qmvply, qmvplyex, Skin, Instgear
# and any added later); none of the tests or benchmarks.
function(vantrel_shared_libraries dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    if(NOT sub MATCHES "^${PROJECT_SOURCE_DIR}/(tests|bench)(/|$)")
      vantrel_shared_libraries(${sub} more)
      list(APPEND found ${more})
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
vantrel_shared_libraries(${PROJECT_SOURCE_DIR} VANTREL_SHARED_LIBRARIES)
install(TARGETS ${VANTREL_SHARED_LIBRARIES} LIBRARY DESTINATION ${VANTREL_INSTALL_DIR})

install(CODE "set(VANTREL_DATA_DIR \"${CMAKE_CURRENT_LIST_DIR}\")
              set(VANTREL_BUILD_DATA \"${CMAKE_BINARY_DIR}/data\")")
install(CODE [[
  set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  file(MAKE_DIRECTORY "${bin}")
  foreach(exe vantrel vantrel-cli)
    message(STATUS "Installing: ${bin}/${exe} -> ../lib/vantrel/${exe}")
    file(CREATE_LINK "../lib/vantrel/${exe}" "${bin}/${exe}" SYMBOLIC)
  endforeach()
  # The desktop entry starts the program where it is installed, whatever the user's PATH.
  set(VANTREL_EXEC "${CMAKE_INSTALL_PREFIX}/bin/vantrel")
  if(VANTREL_EXEC MATCHES "[ \t]")
    set(VANTREL_EXEC "\"${VANTREL_EXEC}\"")
  endif()
  configure_file("${VANTREL_DATA_DIR}/vantrel.desktop.in" "${VANTREL_BUILD_DATA}/vantrel.desktop"
                 @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
       FILES "${VANTREL_BUILD_DATA}/vantrel.desktop")
]])
install(FILES ${VANTREL_ICON_PNG} DESTINATION share/icons/hicolor/48x48/apps RENAME vantrel.png)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantrel.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantrel-qmv.xml DESTINATION share/mime/packages
        RENAME vantrel.xml)
install(FILES ${PROJECT_SOURCE_DIR}/man/vantrel-cli.1 DESTINATION share/man/man1)

# The desktop's caches learn of the new entry, type and icon, unless the files are staged for a
# package (DESTDIR), whose own scripts do that.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    set(share "${CMAKE_INSTALL_PREFIX}/share")
    find_program(VANTREL_UPDATE_MIME update-mime-database)
    if(VANTREL_UPDATE_MIME)
      execute_process(COMMAND "${VANTREL_UPDATE_MIME}" "${share}/mime" OUTPUT_QUIET ERROR_QUIET)
    endif()
    find_program(VANTREL_UPDATE_DESKTOP update-desktop-database)
    if(VANTREL_UPDATE_DESKTOP)
      execute_process(COMMAND "${VANTREL_UPDATE_DESKTOP}" "${share}/applications" OUTPUT_QUIET
                      ERROR_QUIET)
    endif()
    find_program(VANTREL_UPDATE_ICONS gtk-update-icon-cache)
    if(VANTREL_UPDATE_ICONS)
      execute_process(COMMAND "${VANTREL_UPDATE_ICONS}" -q -t -f "${share}/icons/hicolor"
                      OUTPUT_QUIET ERROR_QUIET)
    endif()
  endif()
]])
