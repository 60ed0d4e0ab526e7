#include "base/win/wmi.h"

#include <windows.h>

#include <wbemidl.h>

#include "base/logging.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_comptr.h"
#include "base/win/scoped_variant.h"

namespace base {
namespace win {
namespace {

// The WMI locator's class id; its definition lives in a library the product does not link.
constexpr CLSID kWbemLocatorClassId = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

bool CreateLocalWmiConnection(ScopedComPtr<IWbemServices>* services) {
  ScopedComPtr<IWbemLocator> locator;
  HRESULT hr = locator.CreateInstance(kWbemLocatorClassId, nullptr, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    LOG(ERROR) << "Cannot create the WMI locator: 0x" << std::hex << hr;
    return false;
  }
  ScopedBstr resource(L"ROOT\\CIMV2");
  hr = locator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                              services->Receive());
  if (FAILED(hr)) {
    LOG(ERROR) << "Cannot connect to WMI: 0x" << std::hex << hr;
    return false;
  }
  hr = ::CoSetProxyBlanket(services->get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    LOG(ERROR) << "Cannot set the WMI proxy blanket: 0x" << std::hex << hr;
    return false;
  }
  return true;
}

// A new instance of the in-parameters of class_name.method_name.
bool CreateWmiClassMethodObject(IWbemServices* services, const wchar_t* class_name, const wchar_t* method_name,
                                ScopedComPtr<IWbemClassObject>* parameters) {
  ScopedBstr class_name_bstr(class_name);
  ScopedComPtr<IWbemClassObject> class_object;
  HRESULT hr = services->GetObject(class_name_bstr.Get(), 0, nullptr, class_object.Receive(), nullptr);
  if (FAILED(hr))
    return false;
  ScopedComPtr<IWbemClassObject> parameters_class;
  hr = class_object->GetMethod(method_name, 0, parameters_class.Receive(), nullptr);
  if (FAILED(hr) || !parameters_class)
    return false;
  return SUCCEEDED(parameters_class->SpawnInstance(0, parameters->Receive()));
}

// A 32-bit integer property of a WMI object; false when it is missing or of another type.
bool GetIntegerProperty(IWbemClassObject* object, const wchar_t* name, LONG* value) {
  ScopedVariant variant;
  if (FAILED(object->Get(name, 0, variant.Receive(), nullptr, nullptr)) || variant.type() != VT_I4)
    return false;
  *value = V_I4(&variant.Get());
  return true;
}

}  // namespace

bool LaunchProcessViaWmi(const std::wstring& command_line, int* process_id) {
  ScopedComPtr<IWbemServices> services;
  if (!CreateLocalWmiConnection(&services))
    return false;

  const wchar_t kClassName[] = L"Win32_Process";
  const wchar_t kMethodName[] = L"Create";
  ScopedComPtr<IWbemClassObject> process_create;
  if (!CreateWmiClassMethodObject(services.get(), kClassName, kMethodName, &process_create)) {
    LOG(ERROR) << "Cannot make the parameters of Win32_Process.Create";
    return false;
  }

  ScopedVariant command_line_variant(command_line.c_str());
  VARIANT command_line_value = command_line_variant.Get();
  if (FAILED(process_create->Put(L"CommandLine", 0, &command_line_value, 0)))
    return false;

  ScopedComPtr<IWbemClassObject> out_parameters;
  ScopedBstr class_name(kClassName);
  ScopedBstr method_name(kMethodName);
  HRESULT hr = services->ExecMethod(class_name.Get(), method_name.Get(), 0, nullptr, process_create.get(),
                                    out_parameters.Receive(), nullptr);
  if (FAILED(hr) || !out_parameters) {
    LOG(ERROR) << "Win32_Process.Create failed: 0x" << std::hex << hr;
    return false;
  }

  LONG return_value = -1;
  LONG pid = 0;
  if (!GetIntegerProperty(out_parameters.get(), L"ReturnValue", &return_value) || return_value != 0 ||
      !GetIntegerProperty(out_parameters.get(), L"ProcessId", &pid) || pid == 0) {
    LOG(ERROR) << "Win32_Process.Create returned " << return_value;
    return false;
  }
  if (process_id)
    *process_id = pid;
  return true;
}

}  // namespace win
}  // namespace base
