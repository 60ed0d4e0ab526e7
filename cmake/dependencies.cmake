# Third-party libraries built by third_party/windeps.sh into ${WINDEPS}/prefix, and the Windows import libraries.
set(ZORVI_DEPS ${WINDEPS}/prefix)

add_library(dep_openssl INTERFACE)
target_include_directories(dep_openssl SYSTEM INTERFACE ${ZORVI_DEPS}/include)
target_link_libraries(dep_openssl INTERFACE ${ZORVI_DEPS}/lib/libcrypto.a ws2_32 gdi32 crypt32)

# The 7z reader's headers have generic names (Alloc.h, Precomp.h): they keep a folder of their own.
add_library(dep_7zdec INTERFACE)
target_include_directories(dep_7zdec SYSTEM INTERFACE ${ZORVI_DEPS}/include/7z)
target_link_libraries(dep_7zdec INTERFACE ${ZORVI_DEPS}/lib/lib7zdec.a)

add_library(dep_minizip INTERFACE)
target_include_directories(dep_minizip SYSTEM INTERFACE ${ZORVI_DEPS}/include/minizip)
target_link_libraries(dep_minizip INTERFACE ${ZORVI_DEPS}/lib/libminizip.a z)

# ICU: header-only use of the UTF-8 decoding macros.
add_library(dep_icu INTERFACE)
target_include_directories(dep_icu SYSTEM INTERFACE ${ZORVI_DEPS}/include)

# Static linking imports only what is referenced, so listing every system library the product uses is harmless.
set(ZORVI_SYSTEM_LIBS
    kernel32 user32 gdi32 gdiplus advapi32 shell32 shlwapi ole32 oleaut32 uuid comctl32 comdlg32 version
    winmm psapi wininet crypt32 wintrust rpcrt4 userenv secur32 netapi32 msimg32 ws2_32 dbghelp uxtheme)

# The product library loads the process's basics (kernel32, the C runtime) with itself and every other system DLL
# at the first call into it: a version probe, which other installer processes wait for, then loads no windowing,
# network or security libraries, and each role loads only what it uses. zorvi_delay_load(<target>) links <target>
# against import libraries that do so, made from the toolchain's own (tools/make-delay-import-libs.sh).
set(ZORVI_DELAY_LOADED_LIBS ${ZORVI_SYSTEM_LIBS})
list(REMOVE_ITEM ZORVI_DELAY_LOADED_LIBS kernel32 uuid)
set(ZORVI_DELAY_LIB_DIR ${CMAKE_BINARY_DIR}/delay_import_libs)
set(delay_libs ${ZORVI_DELAY_LOADED_LIBS})
list(TRANSFORM delay_libs REPLACE "(.+)" "${ZORVI_DELAY_LIB_DIR}/lib\\1.a")
add_custom_command(OUTPUT ${delay_libs}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/make-delay-import-libs.sh ${CMAKE_C_COMPILER} ${ZORVI_DELAY_LIB_DIR}
            ${ZORVI_DELAY_LOADED_LIBS}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make-delay-import-libs.sh
    COMMENT "Making the delay-loading import libraries")
add_custom_target(delay_import_libs DEPENDS ${delay_libs})
set(ZORVI_DELAY_LIBS ${delay_libs})
# zorvi_delay_import_libs(<target>): the import libraries alone, without the hook below, for a module built without
# the base code the hook uses (the host).
function(zorvi_delay_import_libs target)
  # Searched before the toolchain's folder, so every system library named on the link line, the dependencies'
  # too, resolves here.
  target_link_directories(${target} BEFORE PRIVATE ${ZORVI_DELAY_LIB_DIR})
  add_dependencies(${target} delay_import_libs)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZORVI_DELAY_LIBS})
endfunction()
function(zorvi_delay_load target)
  zorvi_delay_import_libs(${target})
  # A DLL loaded on first use comes from the system folder only: the loader's hook comes with the libraries.
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/host/system_library_loading.cc)
endfunction()

# zorvi_page_aligned(<target>): the sections of <target> start on page boundaries in the file as in memory, so
# the loader maps them instead of reading each one whole at every start (the host's resources carry the whole
# library).
function(zorvi_page_aligned target)
  target_link_options(${target} PRIVATE -Wl,--file-alignment,4096)
endfunction()

find_package(GTest REQUIRED CONFIG)
