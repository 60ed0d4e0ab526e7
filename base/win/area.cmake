# Every module links the heap allocator (malloc and its kin replace the C runtime DLL's) and runs the
# processor check when loaded, whether or not its code names them: nothing else would pull them out of this
# static library.
target_link_options(base_win INTERFACE "LINKER:--undefined=malloc" "LINKER:--undefined=zorvi_module_sse2_check")
