# Warnings and sanitizers, per target.
function(lintara_target_defaults target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${LINTARA_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow
            $<$<BOOL:${LINTARA_WERROR}>:-Werror>)
    endif()
endfunction()

if(LINTARA_SANITIZE AND NOT MSVC)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
