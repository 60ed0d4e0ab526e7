// ScopedBstr, ScopedVariant and ScopedComPtr: what they free is observed through reference counts of a test
// object and through the system's own conversions.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_comptr.h"
#include "base/win/scoped_variant.h"

namespace base {
namespace win {
namespace {

// A COM object on the stack whose references are counted but which never deletes itself.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
  long references() const { return references_; }

 private:
  long references_ = 0;
};

void ExpectDiesOnBreakpoint(void (*body)()) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(body(), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "");
}

TEST(ScopedBstrTest, CopiesAndMeasures) {
  const wchar_t text[] = L"caf\u00e9 \U0001F600";
  ScopedBstr bstr(text);
  ASSERT_NE(nullptr, bstr.Get());
  EXPECT_NE(text, bstr.Get());
  EXPECT_EQ(std::wstring(text), std::wstring(bstr.Get()));
  EXPECT_EQ(wcslen(text), bstr.Length());
  ScopedBstr none(nullptr);
  EXPECT_EQ(nullptr, none.Get());
  EXPECT_EQ(0u, none.Length());
  ScopedBstr empty(L"");
  ASSERT_NE(nullptr, empty.Get());
  EXPECT_EQ(0u, empty.Length());
}

TEST(ScopedBstrTest, ReceivesAndReleases) {
  ScopedBstr number;
  ASSERT_EQ(S_OK, VarBstrFromI4(-1234567, LOCALE_INVARIANT, 0, number.Receive()));
  EXPECT_EQ(std::to_wstring(-1234567), std::wstring(number.Get()));
  BSTR taken = number.Release();
  EXPECT_EQ(nullptr, number.Get());
  EXPECT_EQ(L"-1234567", std::wstring(taken));
  number.Reset(taken);
  EXPECT_EQ(taken, number.Get());
  number.Reset(taken);  // the same string again is kept, not freed
  EXPECT_EQ(L"-1234567", std::wstring(number.Get()));
  number.Reset();
  EXPECT_EQ(nullptr, number.Get());
}

TEST(ScopedBstrTest, ReceivingIntoAFullHolderStops) {
  ExpectDiesOnBreakpoint([] {
    ScopedBstr held(L"x");
    held.Receive();
  });
}

TEST(ScopedVariantTest, HoldsTextAsBstr) {
  ScopedVariant empty;
  EXPECT_EQ(VT_EMPTY, empty.type());
  ScopedVariant text(L"42 items");
  ASSERT_EQ(VT_BSTR, text.type());
  EXPECT_EQ(std::wstring(L"42 items"), std::wstring(text.Get().bstrVal));
  EXPECT_EQ(8u, SysStringLen(text.Get().bstrVal));
  // The system converts the held value: it is a real BSTR.
  VARIANT converted;
  VariantInit(&converted);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&converted, const_cast<VARIANT*>(&text.Get()), 0, VT_I4));
  ScopedVariant number(L"-17");
  ASSERT_EQ(S_OK, VariantChangeType(&converted, const_cast<VARIANT*>(&number.Get()), 0, VT_I4));
  EXPECT_EQ(-17, converted.lVal);
  text.Reset();
  EXPECT_EQ(VT_EMPTY, text.type());
}

TEST(ScopedVariantTest, FreesTheReferenceItHolds) {
  CountedObject object;
  {
    ScopedVariant variant;
    VARIANT* out = variant.Receive();
    out->vt = VT_UNKNOWN;
    out->punkVal = &object;
    object.AddRef();
    EXPECT_EQ(1, object.references());
  }
  EXPECT_EQ(0, object.references());
}

TEST(ScopedVariantTest, ReceivingIntoAFullHolderStops) {
  ExpectDiesOnBreakpoint([] {
    ScopedVariant held(L"x");
    held.Receive();
  });
}

TEST(ScopedVariantTest, TakesAnArrayWithItsElementType) {
  CountedObject object;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_NE(nullptr, array);
  LONG index = 1;
  ASSERT_EQ(S_OK, SafeArrayPutElement(array, &index, static_cast<IUnknown*>(&object)));
  ASSERT_EQ(1, object.references());
  {
    ScopedVariant variant;
    EXPECT_TRUE(variant.Set(array));
    EXPECT_EQ(VT_ARRAY | VT_UNKNOWN, variant.type());
    EXPECT_EQ(array, variant.Get().parray);
  }
  // Destroying the variant destroyed the array and released its element.
  EXPECT_EQ(0, object.references());

  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ScopedVariant variant;
  EXPECT_TRUE(variant.Set(strings));
  EXPECT_EQ(VT_ARRAY | VT_BSTR, variant.type());
}

TEST(ScopedVariantTest, SettingAnArrayFreesThePreviousValue) {
  CountedObject object;
  ScopedVariant variant;
  VARIANT* out = variant.Receive();
  out->vt = VT_UNKNOWN;
  out->punkVal = &object;
  object.AddRef();
  EXPECT_TRUE(variant.Set(SafeArrayCreateVector(VT_I4, 0, 3)));
  EXPECT_EQ(0, object.references());
  EXPECT_EQ(VT_ARRAY | VT_I4, variant.type());
}

TEST(ScopedVariantTest, ArrayWithoutElementTypeIsNotTaken) {
  SAFEARRAY* bare = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAllocDescriptor(1, &bare));
  VARTYPE probe = VT_EMPTY;
  ASSERT_TRUE(FAILED(SafeArrayGetVartype(bare, &probe))) << "the system reads a type from a bare descriptor";
  ScopedVariant variant(L"old");
  EXPECT_FALSE(variant.Set(bare));
  EXPECT_EQ(VT_EMPTY, variant.type());
  EXPECT_FALSE(variant.Set(nullptr));
  // Still the caller's.
  EXPECT_EQ(S_OK, SafeArrayDestroyDescriptor(bare));
}

TEST(ScopedVariantTest, ReleaseHandsTheValueOver) {
  ScopedVariant variant(L"kept");
  VARIANT value = variant.Release();
  EXPECT_EQ(VT_EMPTY, variant.type());
  ASSERT_EQ(VT_BSTR, value.vt);
  EXPECT_EQ(std::wstring(L"kept"), std::wstring(value.bstrVal));
  EXPECT_EQ(S_OK, VariantClear(&value));
}

TEST(ScopedComPtrTest, CountsReferences) {
  CountedObject object;
  {
    ScopedComPtr<IUnknown> first(&object);
    EXPECT_EQ(1, object.references());
    ScopedComPtr<IUnknown> second(first);
    EXPECT_EQ(2, object.references());
    ScopedComPtr<IUnknown> third;
    third = second;
    EXPECT_EQ(3, object.references());
    third = third;
    EXPECT_EQ(3, object.references());
    second.Reset();
    EXPECT_FALSE(second);
    EXPECT_EQ(2, object.references());
    IUnknown* detached = first.Detach();
    EXPECT_EQ(2, object.references());
    EXPECT_EQ(&object, detached);
    detached->Release();
    EXPECT_TRUE(third);
    EXPECT_EQ(&object, third.get());
  }
  EXPECT_EQ(0, object.references());
  ScopedComPtr<IUnknown> none(nullptr);
  EXPECT_FALSE(none);
}

TEST(ScopedComPtrTest, QueriesInterfaces) {
  CountedObject object;
  {
    ScopedComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, unknown.QueryFrom(&object));
    EXPECT_EQ(1, object.references());
    ScopedComPtr<IStream> stream;
    EXPECT_EQ(E_NOINTERFACE, stream.QueryFrom(&object));
    EXPECT_FALSE(stream);
    EXPECT_EQ(1, object.references());
  }
  EXPECT_EQ(0, object.references());
}

TEST(ScopedComPtrTest, CreatesASystemObject) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    ScopedComPtr<IShellLinkW> link;
    ASSERT_EQ(S_OK, link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER));
    ASSERT_EQ(S_OK, link->SetDescription(L"described"));
    wchar_t description[64] = {};
    ASSERT_EQ(S_OK, link->GetDescription(description, 64));
    EXPECT_EQ(std::wstring(L"described"), description);
    ScopedComPtr<IPersistFile> file;
    EXPECT_EQ(S_OK, file.QueryFrom(link.get()));
    EXPECT_TRUE(file);
    EXPECT_EQ(IID_IPersistFile, ScopedComPtr<IPersistFile>::iid());
  }
  CoUninitialize();
}

TEST(ScopedComPtrTest, ReceivingIntoAFullHolderStops) {
  ExpectDiesOnBreakpoint([] {
    static CountedObject object;
    ScopedComPtr<IUnknown> held(&object);
    held.Receive();
  });
}

}  // namespace
}  // namespace win
}  // namespace base
