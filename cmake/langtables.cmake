# Language tables: tools/langgen.py turns readable sources (one file per language) into a
# generated source of a library. The calls are deferred to the end of the top-level file
# so that the libraries exist by then.
include_guard(GLOBAL)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
get_filename_component(QMX_LANG_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# qmx_lang_tables(TARGET lib OUTPUT file PREFIX symbolprefix TABLE tablename
#                 LANG_DIR folder LANGS code... [REFERENCE file] [COMMENT text])
# Generates OUTPUT (below the build folder) from LANG_DIR/<code>.txt, in the order of LANGS,
# and adds it to TARGET; nothing when TARGET is not built. With REFERENCE, every table is
# checked against that file.
function(qmx_lang_tables)
  cmake_parse_arguments(arg "" "TARGET;OUTPUT;PREFIX;TABLE;LANG_DIR;REFERENCE;COMMENT" "LANGS" ${ARGN})
  if(NOT TARGET ${arg_TARGET})
    return()
  endif()
  set(srcs)
  foreach(l ${arg_LANGS})
    list(APPEND srcs ${arg_LANG_DIR}/${l}.txt)
  endforeach()
  set(reference)
  if(arg_REFERENCE)
    set(reference --reference ${arg_REFERENCE})
  endif()
  set(out ${CMAKE_BINARY_DIR}/${arg_OUTPUT})
  get_filename_component(outdir ${out} DIRECTORY)
  file(MAKE_DIRECTORY ${outdir})
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${QMX_LANG_ROOT}/tools/langgen.py cpp
            --out ${out} --prefix ${arg_PREFIX} --table ${arg_TABLE} ${reference} ${srcs}
    DEPENDS ${QMX_LANG_ROOT}/tools/langgen.py ${srcs}
    COMMENT "${arg_COMMENT}"
    VERBATIM)
  target_sources(${arg_TARGET} PRIVATE ${out})
endfunction()

# The toolkit's tables, from src/ui/lang, each checked against English.
set(QMX_UI_LANGS ENG RUS DEU JPN KOR FRA UKR CHN TWN TUR)

function(qmx_ui_langtables)
  qmx_lang_tables(TARGET ui OUTPUT generated/ui/ciom_langtables.cpp
                  PREFIX ciom_lang_ TABLE gCiomToolkitLangs
                  LANG_DIR ${QMX_LANG_ROOT}/src/ui/lang LANGS ${QMX_UI_LANGS}
                  REFERENCE ${QMX_LANG_ROOT}/src/ui/lang/ENG.txt
                  COMMENT "Generating the toolkit language tables")
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qmx_ui_langtables)
