# Warnings and sanitizers, per target.
function(lintara_target_defaults target)
    if(MSVC)
        # The sources are UTF-8: the program's texts are Czech.
        target_compile_options(${target} PRIVATE /W4 /utf-8 $<$<BOOL:${LINTARA_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow
            $<$<BOOL:${LINTARA_WERROR}>:-Werror>)
    endif()
endfunction()

if(LINTARA_SANITIZE AND LINTARA_TSAN)
    message(FATAL_ERROR "LINTARA_SANITIZE and LINTARA_TSAN cannot be used together")
endif()
if(LINTARA_TSAN AND NOT MSVC)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
if(LINTARA_SANITIZE AND NOT MSVC)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
