// The probes of a downloaded package executable: it is run with one switch and prints its internal version
// or its stream name. A package passes when its version is not lower than the installer's own and its stream
// is the installer's own.
#ifndef DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_PROBES_H_
#define DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_PROBES_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace zorvi::installer {

// Runs `package` with only the switch `probe` (one of the probes of installer_switches.h) under the process launch
// lock and returns what it wrote to its standard output. A package that cannot be started gives an empty output,
// which no check accepts.
std::string RunPackageProbe(const base::FilePath& package, const char* probe);

// The outputs of `package` run once with each of `probes`, in their order. The runs go side by side: each is a
// process start, the bulk of a package check's time.
std::vector<std::string> RunPackageProbes(const base::FilePath& package, const std::vector<const char*>& probes);

// True when `probe_output` is a dotted version that compares equal to or higher than `own_internal_version`.
// Empty or non-numeric output fails.
bool IsPackageVersionAcceptable(const std::string& probe_output, const std::string& own_internal_version);

// True when `probe_output` is `own_stream`, byte for byte.
bool IsPackageStreamAcceptable(const std::string& probe_output, const std::string& own_stream);

// The two checks against this installer's own internal version and stream name.
bool IsPackageVersionAcceptable(const std::string& probe_output);
bool IsPackageStreamAcceptable(const std::string& probe_output);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_PACKAGE_FETCHER_PACKAGE_PROBES_H_
