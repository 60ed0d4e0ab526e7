// Ids of the host executable's resources that code below the installer window reads: the branding document, the
// list of languages the host has strings for, and the scheduled task's description. The installer window's ids
// include this file, and so does the host's resource script: it holds only preprocessor definitions.
#ifndef DESKTOP_COMMON_PRODUCT_PRODUCT_RESOURCE_IDS_H_
#define DESKTOP_COMMON_PRODUCT_PRODUCT_RESOURCE_IDS_H_

// Text resources of type "TXT": the branding document (JSON) and the language tags the host has strings for (one
// a line).
#define IDR_BRANDING 133
#define IDR_LANGUAGES 134

// The autoupdate task's description, in the string tables of every language.
#define IDS_AUTOUPDATE_TASK 37047

#endif  // DESKTOP_COMMON_PRODUCT_PRODUCT_RESOURCE_IDS_H_
