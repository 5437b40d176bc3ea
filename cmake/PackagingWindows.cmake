# The Windows zip: one folder with the program, its driver, Qt and the MinGW
# runtime, everything a clean Windows 10 or 11 lacks:
#   scripts/package-windows.sh
# which cross-builds and then runs `cpack` here. The folder:
#   Lintara.exe, rscom.dll            the program and its driver
#   Qt6Core/Gui/Widgets.dll           what Lintara.exe imports
#   platforms/qwindows.dll            Qt's Windows platform
#   styles/qwindowsvistastyle.dll     the look of Windows' own controls
#   libgcc_s_seh-1.dll, libstdc++-6.dll, libwinpthread-1.dll
#                                     the MinGW runtime Qt and the program import

# Qt's plugins are loaded, not imported: they go to the folders Qt looks for
# them in beside the program, and what they import goes with the rest.
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::QWindowsIntegrationPlugin
    RUNTIME_DEPENDENCY_SET lintara_dlls
    LIBRARY DESTINATION platforms)
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::QWindowsVistaStylePlugin
    RUNTIME_DEPENDENCY_SET lintara_dlls
    LIBRARY DESTINATION styles)

# Qt's own DLLs by their targets: CMake looks for imported DLLs by their
# names in lower case, which Qt's are not.
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::Core Qt6::Gui Qt6::Widgets
    RUNTIME_DEPENDENCY_SET lintara_dlls
    RUNTIME DESTINATION .)

# Every other DLL those files import, found in the compiler's folders, and
# what those import in turn. Windows' own DLLs are left out by name; any other
# DLL that is not found fails the install, so that nothing missing can slip
# into the zip.
set(lintara_windows_dlls
    advapi32 authz comctl32 comdlg32 crypt32 d2d1 d3d11 d3d12 d3d9 dwmapi dwrite dxgi gdi32
    imm32 kernel32 mpr msvcrt netapi32 ntdll ole32 oleaut32 rpcrt4 setupapi cfgmgr32 shcore
    shell32 shlwapi ucrtbase user32 userenv uxtheme version winmm winspool ws2_32 wtsapi32)
list(JOIN lintara_windows_dlls "|" lintara_windows_dlls)
include(MingwRuntime)
lintara_mingw_runtime_dirs(lintara_runtime_dirs)
# Cross-built, the dependencies are read with MinGW's objdump.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${CMAKE_OBJDUMP}")
install(RUNTIME_DEPENDENCY_SET lintara_dlls
    PRE_EXCLUDE_REGEXES "^(${lintara_windows_dlls})\\.dll$" "^(api|ext)-ms-" "^qt6(core|gui|widgets)\\.dll$"
    DIRECTORIES ${lintara_runtime_dirs}
    RUNTIME DESTINATION .)

# Qt and the MinGW runtime come with their symbols: strip them too, when the
# install strips (cpack does, CPACK_STRIP_FILES).
install(CODE "set(lintara_strip \"${CMAKE_STRIP}\")")
install(CODE [[
    if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB_RECURSE binaries "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/*.dll"
            "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/*.exe")
        execute_process(COMMAND "${lintara_strip}" --strip-all ${binaries}
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
]])

set(CPACK_PACKAGE_NAME "Lintara")
set(CPACK_PACKAGE_VENDOR "Lintara developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME "Lintara-${PROJECT_VERSION}-win64")
set(CPACK_GENERATOR "ZIP")
set(CPACK_STRIP_FILES ON)
# One folder, named as the zip, holding what the program needs.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Runtime;/")

include(CPack)
