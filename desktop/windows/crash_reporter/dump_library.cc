#include "desktop/windows/crash_reporter/dump_library.h"

#include <atomic>

#include "base/win/native_library.h"

namespace zorvi {
namespace installer {
namespace {

HMODULE WINAPI LoadFromSystemFolder(const wchar_t* file_name) {
  return base::win::LoadSystemLibrary(file_name);
}

const DumpLibraryFunctions kSystemFunctions = {&LoadFromSystemFolder, &GetProcAddress, &FreeLibrary};
std::atomic<const DumpLibraryFunctions*> g_functions{&kSystemFunctions};
constinit base::Lock g_dump_writing_lock;

}  // namespace

const DumpLibraryFunctions& GetDumpLibraryFunctions() {
  return *g_functions.load();
}

void SetDumpLibraryFunctionsForTesting(const DumpLibraryFunctions* functions) {
  g_functions = functions ? functions : &kSystemFunctions;
}

base::Lock& GetDumpWritingLock() {
  return g_dump_writing_lock;
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
