# The catalogue fuzz target (native clang only): the reader, the parse and
# the checker, all compiled with the sanitizers. Included from this folder's
# CMakeLists.txt: include(catalog.cmake)
upgrade_add_fuzzer(NAME catalog_fuzz SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/catalog_fuzz.cpp
  ${CATALOG_NEUTRAL_SOURCES}
  ${CMAKE_SOURCE_DIR}/tools/catcheck/CatalogChecker.cpp
  ${CMAKE_SOURCE_DIR}/core/LanguageTag.cpp
  ${CMAKE_SOURCE_DIR}/core/SafeName.cpp
  ${CMAKE_SOURCE_DIR}/core/Log.cpp ${CMAKE_SOURCE_DIR}/core/TextFormat.cpp)
