// The experiments table lives with the other product-wide pieces in desktop/common/product; the installer window's
// sources still name it here.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_EXPERIMENTS_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_EXPERIMENTS_H_

#include "desktop/common/product/installer_experiments.h"

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_EXPERIMENTS_H_
