# skv_embed_files(<out.cpp> <symbol-prefix> <file>...) turns binary files into a C++ source
# holding one byte array per file plus a lookup table, without external tools (no xxd).
function(skv_embed_files out prefix)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DPREFIX=${prefix} "-DFILES=${ARGN}"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/SkvEmbedScript.cmake
    DEPENDS ${ARGN} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/SkvEmbedScript.cmake
    COMMENT "Embedding ${prefix} resources"
    VERBATIM)
endfunction()
