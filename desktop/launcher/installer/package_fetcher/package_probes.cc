#include "desktop/launcher/installer/package_fetcher/package_probes.h"

#include <utility>

#include "base/command_line.h"
#include "base/process/launch.h"
#include "base/synchronization/lock.h"
#include "base/version.h"
#include "desktop/common/product/product_info.h"

namespace zorvi::installer {

std::string RunPackageProbe(const base::FilePath& package, const char* probe) {
  return RunPackageProbes(package, {probe}).front();
}

std::vector<std::string> RunPackageProbes(const base::FilePath& package, const std::vector<const char*>& probes) {
  std::vector<base::StartedApp> runs;
  {
    // A child inherits every inheritable handle: no other thread may create one while they start.
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    for (const char* probe : probes) {
      base::CommandLine command_line(package);
      command_line.AppendSwitch(probe);
      runs.push_back(base::StartApp(command_line));
    }
  }
  std::vector<std::string> outputs(probes.size());
  // The exit codes are not consulted: the output alone decides.
  for (size_t i = 0; i < runs.size(); ++i)
    base::CollectAppOutput(std::move(runs[i]), &outputs[i]);
  return outputs;
}

bool IsPackageVersionAcceptable(const std::string& probe_output, const std::string& own_internal_version) {
  const base::Version package_version(probe_output);
  const base::Version own_version(own_internal_version);
  return package_version.IsValid() && own_version.IsValid() && package_version.CompareTo(own_version) >= 0;
}

bool IsPackageStreamAcceptable(const std::string& probe_output, const std::string& own_stream) {
  return probe_output == own_stream;
}

bool IsPackageVersionAcceptable(const std::string& probe_output) {
  return IsPackageVersionAcceptable(probe_output, GetInternalVersion());
}

bool IsPackageStreamAcceptable(const std::string& probe_output) {
  return IsPackageStreamAcceptable(probe_output, GetStreamName());
}

}  // namespace zorvi::installer
