#include "base/win/fake_property_store_test_util.h"

namespace base {
namespace win {
namespace {

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

}  // namespace

FakePropertyStore::FakePropertyStore() {
  PropVariantInit(&empty_);
}

FakePropertyStore::~FakePropertyStore() {
  for (Entry& entry : entries_)
    PropVariantClear(&entry.value);
}

HRESULT FakePropertyStore::QueryInterface(REFIID iid, void** object) {
  if (iid == __uuidof(IUnknown) || iid == __uuidof(IPropertyStore)) {
    *object = static_cast<IPropertyStore*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG FakePropertyStore::AddRef() {
  return ++references_;
}

ULONG FakePropertyStore::Release() {
  return --references_;
}

HRESULT FakePropertyStore::GetCount(DWORD* count) {
  *count = static_cast<DWORD>(entries_.size());
  return S_OK;
}

HRESULT FakePropertyStore::GetAt(DWORD index, PROPERTYKEY* key) {
  if (index >= entries_.size())
    return E_INVALIDARG;
  *key = entries_[index].key;
  return S_OK;
}

HRESULT FakePropertyStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
  calls_.push_back("get " + std::to_string(key.pid));
  PropVariantInit(value);
  if (Entry* entry = Find(key))
    return PropVariantCopy(value, &entry->value);
  return S_OK;
}

HRESULT FakePropertyStore::SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) {
  calls_.push_back("set " + std::to_string(key.pid));
  if (FAILED(set_value_result_))
    return set_value_result_;
  Preload(key, value);
  return set_value_result_;
}

HRESULT FakePropertyStore::Commit() {
  calls_.push_back("commit");
  return commit_result_;
}

void FakePropertyStore::Preload(const PROPERTYKEY& key, const PROPVARIANT& value) {
  Entry* entry = Find(key);
  if (!entry) {
    entries_.push_back(Entry{key, {}});
    entry = &entries_.back();
    PropVariantInit(&entry->value);
  }
  PropVariantClear(&entry->value);
  PropVariantCopy(&entry->value, &value);
}

const PROPVARIANT& FakePropertyStore::Stored(const PROPERTYKEY& key) const {
  for (const Entry& entry : entries_) {
    if (SameKey(entry.key, key))
      return entry.value;
  }
  return empty_;
}

FakePropertyStore::Entry* FakePropertyStore::Find(const PROPERTYKEY& key) {
  for (Entry& entry : entries_) {
    if (SameKey(entry.key, key))
      return &entry;
  }
  return nullptr;
}

}  // namespace win
}  // namespace base
