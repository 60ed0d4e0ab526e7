#include "desktop/windows/crash_reporter/dump_library.h"

#include <atomic>

namespace zorvi {
namespace installer {
namespace {

const DumpLibraryFunctions kSystemFunctions = {&LoadLibraryW, &GetProcAddress, &FreeLibrary};
std::atomic<const DumpLibraryFunctions*> g_functions{&kSystemFunctions};

}  // namespace

const DumpLibraryFunctions& GetDumpLibraryFunctions() {
  return *g_functions.load();
}

void SetDumpLibraryFunctionsForTesting(const DumpLibraryFunctions* functions) {
  g_functions = functions ? functions : &kSystemFunctions;
}

DumpLibrary::DumpLibrary(const wchar_t* file_name) : module_(GetDumpLibraryFunctions().load_library(file_name)) {}

DumpLibrary::~DumpLibrary() {
  if (module_)
    GetDumpLibraryFunctions().free_library(module_);
}

FARPROC DumpLibrary::FindAddress(const char* name) const {
  return module_ ? GetDumpLibraryFunctions().get_proc_address(module_, name) : nullptr;
}

}  // namespace installer
}  // namespace zorvi
