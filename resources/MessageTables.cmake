# The message tables: text sources turned into "STR0" tables compiled into the engine. Included from
# the top level so that the generated source belongs to the engine target's directory.
set(QS_STRING_TABLES
  QS_ERROR_STRINGS_ENGLISH=${CMAKE_CURRENT_LIST_DIR}/QsErrorStrings.txt
  QSSTRRES_STRINGS=${CMAKE_CURRENT_LIST_DIR}/QsStrResStrings.txt)
set(QS_STRING_TABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/QsErrorStrings.txt
  ${CMAKE_CURRENT_LIST_DIR}/QsStrResStrings.txt)
set(QS_GENERATED_RESOURCES ${CMAKE_BINARY_DIR}/generated/CompiledResources.cpp)
add_custom_command(
  OUTPUT ${QS_GENERATED_RESOURCES}
  COMMAND strtable_gen ${QS_GENERATED_RESOURCES} ${QS_STRING_TABLES}
  DEPENDS strtable_gen ${QS_STRING_TABLE_SOURCES}
  COMMENT "Generating the compiled-in message tables"
  VERBATIM)
target_sources(qsengine PRIVATE ${QS_GENERATED_RESOURCES})
