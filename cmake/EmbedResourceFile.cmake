# brindle_embed_file(<target> NAME <rcc name> PREFIX <resource prefix> ALIAS <file name>
#                    SOURCE_TARGET <target whose file is embedded> [STRIP_DEBUG])
#
# Compiles the file of SOURCE_TARGET into <target> as a Qt resource, at build time.
# Only a change of that file re-runs rcc: the .qrc is written at configure time
# only when its text differs, and the copy step does not touch the outputs when
# the bytes are the same, so a build with nothing changed has nothing to do.
function(brindle_embed_file target)
  cmake_parse_arguments(E "STRIP_DEBUG" "NAME;PREFIX;ALIAS;SOURCE_TARGET" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${E_NAME})
  set(image ${dir}/${E_ALIAS})
  set(staged ${dir}/${E_ALIAS}.staged)
  if(E_STRIP_DEBUG AND CMAKE_OBJCOPY)
    set(stage ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${E_SOURCE_TARGET}> ${staged})
  else()
    set(stage ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${E_SOURCE_TARGET}> ${staged})
  endif()
  set(qrc ${CMAKE_CURRENT_BINARY_DIR}/${E_NAME}.qrc)
  # file(WRITE) would give the .qrc a new time stamp at every configure (run.sh
  # configures on every start), and rcc, the library and the tool would follow.
  file(CONFIGURE OUTPUT ${qrc} CONTENT
    "<RCC>\n  <qresource prefix=\"${E_PREFIX}\">\n    <file alias=\"${E_ALIAS}\">${image}</file>\n  </qresource>\n</RCC>\n")
  set(rcc_cpp ${CMAKE_CURRENT_BINARY_DIR}/${E_NAME}_rcc.cpp)
  add_custom_command(
    OUTPUT ${image}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${staged} ${image}
    DEPENDS ${E_SOURCE_TARGET} $<TARGET_FILE:${E_SOURCE_TARGET}>
    COMMENT "Staging ${E_ALIAS}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${rcc_cpp}
    COMMAND Qt6::rcc --name ${E_NAME} --no-compress --output ${rcc_cpp} ${qrc}
    DEPENDS ${image} ${qrc}
    COMMENT "Embedding ${E_ALIAS}"
    VERBATIM)
  target_sources(${target} PRIVATE ${rcc_cpp})
  set_source_files_properties(${rcc_cpp} PROPERTIES SKIP_AUTOMOC ON)
endfunction()
