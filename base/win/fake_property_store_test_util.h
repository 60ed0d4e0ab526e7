// An in-memory IPropertyStore for tests: it keeps what is set, logs every call in order, and can be told to
// fail its set or commit.
#ifndef BASE_WIN_FAKE_PROPERTY_STORE_TEST_UTIL_H_
#define BASE_WIN_FAKE_PROPERTY_STORE_TEST_UTIL_H_

#include <windows.h>

#include <propsys.h>

#include <string>
#include <vector>

namespace base {
namespace win {

class FakePropertyStore : public IPropertyStore {
 public:
  FakePropertyStore();
  FakePropertyStore(const FakePropertyStore&) = delete;
  FakePropertyStore& operator=(const FakePropertyStore&) = delete;
  virtual ~FakePropertyStore();

  // IUnknown (the object lives on the test's stack: reference counting only counts).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IPropertyStore.
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override;
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
  HRESULT STDMETHODCALLTYPE Commit() override;

  // What SetValue and Commit return (a failing SetValue keeps nothing).
  void set_set_value_result(HRESULT result) { set_value_result_ = result; }
  void set_commit_result(HRESULT result) { commit_result_ = result; }
  // Stores a value as if it had been committed earlier (copied).
  void Preload(const PROPERTYKEY& key, const PROPVARIANT& value);

  // The stored value of `key` (VT_EMPTY when none); owned by the store.
  const PROPVARIANT& Stored(const PROPERTYKEY& key) const;
  // "set <pid>", "commit" and "get <pid>" entries in call order.
  const std::vector<std::string>& calls() const { return calls_; }
  ULONG references() const { return references_; }

 private:
  struct Entry {
    PROPERTYKEY key;
    PROPVARIANT value;
  };
  Entry* Find(const PROPERTYKEY& key);

  std::vector<Entry> entries_;
  std::vector<std::string> calls_;
  HRESULT set_value_result_ = S_OK;
  HRESULT commit_result_ = S_OK;
  ULONG references_ = 1;
  PROPVARIANT empty_;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_FAKE_PROPERTY_STORE_TEST_UTIL_H_
