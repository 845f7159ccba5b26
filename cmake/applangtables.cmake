# The application's language tables ("pkgm::*") from src/softmgrapp/lang, a generated source
# of the softmgrapp library. The order of the sources is the order of the provider's table
# (English first, the default). No reference check here: the Korean table lacks one string
# on purpose; tests/softmgrapp checks every table against English.
include(${CMAKE_CURRENT_LIST_DIR}/langtables.cmake)

set(QMX_APP_LANGS ENG DEU RUS UKR KOR JPN CHN TWN TUR)

function(qmx_app_langtables)
  qmx_lang_tables(TARGET softmgrapp OUTPUT generated/softmgrapp/app_langtables.cpp
                  PREFIX lang_ TABLE gSOPKGLangTable
                  LANG_DIR ${QMX_LANG_ROOT}/src/softmgrapp/lang LANGS ${QMX_APP_LANGS}
                  COMMENT "Generating the application language tables")
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qmx_app_langtables)
