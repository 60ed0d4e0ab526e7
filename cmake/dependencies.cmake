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

find_package(GTest REQUIRED CONFIG)
