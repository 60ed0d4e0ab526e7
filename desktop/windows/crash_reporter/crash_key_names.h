// The names of the crash keys: the client's table carries each under its name, and the reporter looks the values
// up by the same names, so both spell them from here.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_NAMES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_NAMES_H_

namespace zorvi {
namespace installer {

// In the client's table order.
inline constexpr wchar_t kCrashKeyVersion[] = L"version";
inline constexpr wchar_t kCrashKeyBuild[] = L"build";
inline constexpr wchar_t kCrashKeyBuildSet[] = L"buildset";
inline constexpr wchar_t kCrashKeyBuildRequestTime[] = L"build_request_time";
inline constexpr wchar_t kCrashKeyProcessType[] = L"process_type";
inline constexpr wchar_t kCrashKeyCrashGuid[] = L"crash_guid";
inline constexpr wchar_t kCrashKeyActiveUrl[] = L"active_url";
inline constexpr wchar_t kCrashKeyGpuVendorId[] = L"gpu_vendor_id";
inline constexpr wchar_t kCrashKeyGpuDeviceId[] = L"gpu_device_id";
inline constexpr wchar_t kCrashKeyGpuDriverVersion[] = L"gpu_driver_version";
inline constexpr wchar_t kCrashKeyGpuPixelShaderVersion[] = L"gpu_pixel_shader_version";
inline constexpr wchar_t kCrashKeyGpuVertexShaderVersion[] = L"gpu_vertex_shader_version";
inline constexpr wchar_t kCrashKeyIsWow64[] = L"is_wow64";
inline constexpr wchar_t kCrashKeyExceptionPolicy[] = L"exception_policy";
inline constexpr wchar_t kCrashKeyVemtraTest[] = L"vemtra_test";
inline constexpr wchar_t kCrashKeyOrigin[] = L"origin";
inline constexpr wchar_t kCrashKeyEnabledExtensions[] = L"enabled_extensions";
inline constexpr wchar_t kCrashKeyDisabledExtensions[] = L"disabled_extensions";
inline constexpr wchar_t kCrashKeyBlacklistedExtensions[] = L"blacklisted_extensions";
inline constexpr wchar_t kCrashKeyTerminatedExtensions[] = L"terminated_extensions";
inline constexpr wchar_t kCrashKeyThirdPartyInstalls[] = L"third_party_installs";
inline constexpr wchar_t kCrashKeyModules[] = L"modules";
inline constexpr wchar_t kCrashKeyHandleInfoItems[] = L"handle_info_items";
inline constexpr wchar_t kCrashKeyInvalidHandle[] = L"invalid_handle";

// The client's up-time in milliseconds, which the reporter's dump server appends after the client's entries.
inline constexpr wchar_t kCrashKeyPtime[] = L"ptime";

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_NAMES_H_
