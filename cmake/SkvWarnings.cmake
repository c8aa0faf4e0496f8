# Warning flags for every target of ours, in one place.
function(skv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(SKV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
