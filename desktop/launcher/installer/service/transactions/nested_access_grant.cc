#include "desktop/launcher/installer/service/transactions/nested_access_grant.h"

#include <map>
#include <utility>

#include "desktop/launcher/installer/service/access_control.h"

namespace zorvi::installer {

namespace {

// Per object: how many grants are held, and the list as it was before the first.
struct Holders {
  int count = 0;
  std::unique_ptr<AccessGrant> original;
};

std::map<std::wstring, Holders>& Objects() {
  static auto* objects = new std::map<std::wstring, Holders>();
  return *objects;
}

}  // namespace

std::unique_ptr<NestedAccessGrant> NestedAccessGrant::Grant(const std::wstring& object_name,
                                                            SE_OBJECT_TYPE object_type,
                                                            DWORD access_mask) {
  std::unique_ptr<AccessGrant> found;
  if (!GrantAccess(object_name, object_type, access_mask, false, &found))
    return nullptr;
  // Registry and file names are compared without regard to case.
  std::wstring key = std::to_wstring(object_type) + L":" + object_name;
  CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  Holders& holders = Objects()[key];
  // The first grant's record is the one that goes back; a later one keeps what it found for itself.
  if (holders.count++ == 0)
    holders.original = std::move(found);
  return std::unique_ptr<NestedAccessGrant>(new NestedAccessGrant(key, std::move(found)));
}

NestedAccessGrant::NestedAccessGrant(std::wstring key, std::unique_ptr<AccessGrant> found)
    : key_(std::move(key)), found_(std::move(found)) {}

NestedAccessGrant::~NestedAccessGrant() {
  if (released_)
    return;
  auto holders = Objects().find(key_);
  if (--holders->second.count == 0) {
    RestoreAccess(std::move(holders->second.original));
    Objects().erase(holders);
  }
}

void NestedAccessGrant::Forget() {
  if (released_)
    return;
  released_ = true;
  auto holders = Objects().find(key_);
  if (--holders->second.count == 0)
    Objects().erase(holders);
}

const AccessGrant& NestedAccessGrant::found() const {
  return found_ ? *found_ : *Objects().at(key_).original;
}

PSECURITY_DESCRIPTOR NestedAccessGrant::found_descriptor() const {
  return found().previous_descriptor.Get();
}

PACL NestedAccessGrant::found_access_list() const {
  return found().previous_dacl;
}

}  // namespace zorvi::installer
