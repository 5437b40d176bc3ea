# The folders of the MinGW runtime DLLs that programs built with MinGW-w64
# import (libstdc++, libgcc_s, libwinpthread): the compiler knows where its
# own are; Debian keeps libwinpthread in the target's tree.
function(lintara_mingw_runtime_dirs out)
    set(dirs)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(found "${found}" DIRECTORY)
        list(APPEND dirs "${found}")
    endforeach()
    foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
        if(EXISTS "${root}/lib/libwinpthread-1.dll")
            list(APPEND dirs "${root}/lib")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES dirs)
    set(${out} ${dirs} PARENT_SCOPE)
endfunction()
