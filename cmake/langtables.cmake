# The toolkit's language tables: tools/langgen.py turns the readable sources in
# src/ui/lang (one file per language) into a generated source of the ui library.
# Deferred to the end of the top-level file so that the ui target exists by then.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QMX_LANG_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

set(QMX_UI_LANGS ENG RUS DEU JPN KOR FRA UKR CHN TWN TUR)

function(qmx_ui_langtables)
  if(NOT TARGET ui)
    return()
  endif()
  set(srcs)
  foreach(l ${QMX_UI_LANGS})
    list(APPEND srcs ${QMX_LANG_ROOT}/src/ui/lang/${l}.txt)
  endforeach()
  set(out ${CMAKE_BINARY_DIR}/generated/ui/ciom_langtables.cpp)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated/ui)
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${QMX_LANG_ROOT}/tools/langgen.py cpp
            --out ${out} --prefix ciom_lang_ --table gCiomToolkitLangs
            --reference ${QMX_LANG_ROOT}/src/ui/lang/ENG.txt ${srcs}
    DEPENDS ${QMX_LANG_ROOT}/tools/langgen.py ${srcs}
    COMMENT "Generating the toolkit language tables"
    VERBATIM)
  target_sources(ui PRIVATE ${out})
endfunction()

cmake_language(DEFER CALL qmx_ui_langtables)
