// Resolves the placeholders ("{InstallFolder}", "{Product}", ...) of registry entry templates and says where
// the registry values written for an installation are recorded.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_PLACEHOLDER_PROVIDER_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_PLACEHOLDER_PROVIDER_H_

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/launcher/installer/records/install_log.h"

namespace zorvi::installer {

class PlaceholderProvider {
 public:
  virtual ~PlaceholderProvider() = default;
  // The text for the placeholder `name` (given without its braces).
  virtual std::wstring GetValue(const std::wstring& name) = 0;
  // The status log's key records for the hive of `root`; null when no log is being kept.
  virtual std::vector<InstallLogKey>* GetRootValue(HKEY root) = 0;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_PLACEHOLDER_PROVIDER_H_
