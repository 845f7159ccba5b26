# The application's language tables ("pkgm::*"): tools/langgen.py turns the readable
# sources in src/softmgrapp/lang into a generated source of the softmgrapp library.
# The order of the sources is the order of the provider's table (English first, the
# default). No --reference check here: the Korean table lacks one string on purpose;
# tests/softmgrapp checks every table against English.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QMX_APP_LANGS ENG DEU RUS UKR KOR JPN CHN TWN TUR)

function(qmx_app_langtables)
  if(NOT TARGET softmgrapp)
    return()
  endif()
  set(srcs)
  foreach(l ${QMX_APP_LANGS})
    list(APPEND srcs ${CMAKE_SOURCE_DIR}/src/softmgrapp/lang/${l}.txt)
  endforeach()
  set(out ${CMAKE_BINARY_DIR}/generated/softmgrapp/app_langtables.cpp)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated/softmgrapp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/langgen.py cpp
            --out ${out} --prefix lang_ --table gSOPKGLangTable ${srcs}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/langgen.py ${srcs}
    COMMENT "Generating the application language tables"
    VERBATIM)
  target_sources(softmgrapp PRIVATE ${out})
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qmx_app_langtables)
