# A development bundle of the program in the build tree:
#   SoftManager.app/Contents/MacOS/softmgr       a copy of the built executable (bin/softmgr)
#   SoftManager.app/Contents/Resources/icon.icns drawn by src/softmgrapp/devbundle/mkicns.py
#   softmgr                                      a symbolic link to the bundle's executable
# "make" copies the running bundle's icon into every installer it builds, so it is run
# from this bundle (or from an installed copy), not from the bare executable. The
# program finds itself through /proc/self/exe, which resolves the link, so build/softmgr
# runs as the bundle's copy.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(qmx_devbundle)
  if(NOT TARGET softmgr_exe)
    return()
  endif()
  set(bundle ${CMAKE_BINARY_DIR}/SoftManager.app/Contents)
  set(icon ${bundle}/Resources/icon.icns)
  set(script ${CMAKE_SOURCE_DIR}/src/softmgrapp/devbundle/mkicns.py)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/Resources
    COMMAND Python3::Interpreter ${script} ${icon}
    DEPENDS ${script}
    COMMENT "Drawing the development bundle's icon"
    VERBATIM)
  add_custom_target(softmgr_devbundle ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/MacOS
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:softmgr_exe> ${bundle}/MacOS/softmgr
    COMMAND ${CMAKE_COMMAND} -E create_symlink SoftManager.app/Contents/MacOS/softmgr ${CMAKE_BINARY_DIR}/softmgr
    DEPENDS softmgr_exe ${icon}
    COMMENT "Staging SoftManager.app"
    VERBATIM)
  # The application's tests run the staged program.
  if(TARGET test_softmgrapp)
    add_dependencies(test_softmgrapp softmgr_devbundle)
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qmx_devbundle)
