// A temporary access grant that nests with the other operations' grants on the same object. Operations of one
// transaction may each widen one key's or file's access list (a value change, then a key created below it, then
// the key's deletion); were each to put back the list it found, the one committed or rolled back last would
// put back a list that an earlier grant had already widened. Here the list is put back as it was before the
// first grant, once the last grant on the object is released.
//
// Operations run on one thread: the grants are not locked.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_NESTED_ACCESS_GRANT_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_NESTED_ACCESS_GRANT_H_

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>

namespace zorvi::installer {

struct AccessGrant;

class NestedAccessGrant {
 public:
  // Grants the current user `access_mask` on the object (see GrantAccess); null when that fails.
  static std::unique_ptr<NestedAccessGrant> Grant(const std::wstring& object_name,
                                                  SE_OBJECT_TYPE object_type,
                                                  DWORD access_mask);
  NestedAccessGrant(const NestedAccessGrant&) = delete;
  NestedAccessGrant& operator=(const NestedAccessGrant&) = delete;
  // Releases the grant: the last one on the object puts its access list back.
  ~NestedAccessGrant();

  // Releases the grant of an object that is gone (deleted for good): the list is not put back, so that a new
  // object made later under the same name does not get it.
  void Forget();

  // The object's access list as this grant found it, in the security descriptor that holds it.
  PSECURITY_DESCRIPTOR found_descriptor() const;
  PACL found_access_list() const;

 private:
  NestedAccessGrant(std::wstring key, std::unique_ptr<AccessGrant> found);
  const AccessGrant& found() const;

  std::wstring key_;                    // object type and name
  std::unique_ptr<AccessGrant> found_;  // null for the first grant, whose record the object's holders keep
  bool released_ = false;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_NESTED_ACCESS_GRANT_H_
