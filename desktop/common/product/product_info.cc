#include "desktop/common/product/product_info.h"

#include <windows.h>

#include <map>
#include <memory>

#include "base/base_paths.h"
#include "base/json/json_reader.h"
#include "base/lazy_instance.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_piece.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/values.h"
#include "base/win/native_library.h"
#include "desktop/common/product/product_resource_ids.h"
#include "desktop/common/product/test_seams.h"

namespace zorvi::installer {

namespace {

// The browser project this build is made from; only its major number is used.
constexpr char kVastreloVersion[] = "52.0.2716.0";
constexpr char kBuildRequestTime[] = "20160518_220129";
constexpr int kBaseMajorVersion = 39;
constexpr int kInternalMajorVersion = 2234;
constexpr int kInternalMinorVersion = 0;
constexpr uint32_t kBuildNumber = 651521;
constexpr uint32_t kBuildSetNumber = 241212;
constexpr int kStreamId = 2;

struct ReleaseStream {
  int id;
  const char* name;
  const char* display_word;
};

// Probes, registry value names, help and the crash reporter all name streams from this one table.
constexpr ReleaseStream kReleaseStreams[] = {
    {2, "nightly", "Nightly"},
    {3, "beta", "Beta"},
    {4, "release", "Release"},
};

const ReleaseStream* FindReleaseStream(int stream_id) {
  for (const ReleaseStream& stream : kReleaseStreams) {
    if (stream.id == stream_id)
      return &stream;
  }
  return nullptr;
}

constexpr int kBrandingResourceId = IDR_BRANDING;
constexpr wchar_t kBrandingResourceType[] = L"TXT";
// Test automation ships this module beside the installer carrying the branding resource instead of the host.
constexpr wchar_t kTestAutomationModuleName[] = L"_vemtralib.pyd";

// False when the module has no branding resource; else *text holds exactly its SizeofResource bytes (the text
// carries no terminator), empty when it cannot be read.
bool ReadBrandingResource(HMODULE module, std::string* text) {
  text->clear();
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kBrandingResourceId), kBrandingResourceType);
  if (!resource)
    return false;
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data)
    text->assign(static_cast<const char*>(data), SizeofResource(module, resource));
  return true;
}

// The parsed document, an empty dictionary when the text is not a JSON object.
class BrandingDocument {
 public:
  BrandingDocument() : BrandingDocument(LoadBrandingText()) {}
  explicit BrandingDocument(const std::string& text) {
    std::unique_ptr<base::Value> root = base::JsonReader::Read(text);
    if (root && root->IsType(base::Value::kTypeDictionary))
      dictionary_.reset(static_cast<base::DictionaryValue*>(root.release()));
    else
      dictionary_ = std::make_unique<base::DictionaryValue>();
  }

  const base::DictionaryValue& dictionary() const { return *dictionary_; }

 private:
  std::unique_ptr<base::DictionaryValue> dictionary_;
};

constinit base::LazyInstance<BrandingDocument>::Leaky g_branding;

// The document of a test's branding text: each text is parsed once and kept for the life of the process, since
// callers hold on to the dictionary.
const base::DictionaryValue& GetTestBrandingDictionary(const std::string& text) {
  static base::Lock lock;
  static auto* documents = new std::map<std::string, std::unique_ptr<BrandingDocument>>;
  base::AutoLock hold(lock);
  std::unique_ptr<BrandingDocument>& document = (*documents)[text];
  if (!document)
    document = std::make_unique<BrandingDocument>(text);
  return document->dictionary();
}

std::string GetBrandingString(const std::string& path) {
  std::string value;
  GetBrandingDictionary().GetString(path, &value);
  return value;
}

bool GetBrandingBoolean(const std::string& path) {
  bool value = false;
  GetBrandingDictionary().GetBoolean(path, &value);
  return value;
}

}  // namespace

int GetVastreloMajorVersion() {
  const base::StringPiece version(kVastreloVersion);
  int major = -1;
  if (!base::StringToInt(version.substr(0, version.find('.')), &major))
    return -1;
  return major;
}

std::string GetBuildRequestTime() {
  return kBuildRequestTime;
}

int GetStreamId() {
  return kStreamId;
}

std::string GetStreamName() {
  return GetStreamNameOf(kStreamId);
}

std::string GetInternalVersion() {
  return base::StringPrintf("%d.%d", kInternalMajorVersion, kInternalMinorVersion);
}

uint32_t GetBuildNumber() {
  return kBuildNumber;
}

uint32_t GetBuildSetNumber() {
  return kBuildSetNumber;
}

const char* GetStreamNameOf(int stream_id) {
  const ReleaseStream* stream = FindReleaseStream(stream_id);
  return stream ? stream->name : nullptr;
}

const char* GetStreamDisplayWordOf(int stream_id) {
  const ReleaseStream* stream = FindReleaseStream(stream_id);
  return stream ? stream->display_word : nullptr;
}

std::string LoadBrandingText() {
  std::string text;
  if (ReadBrandingResource(nullptr, &text))
    return text;
  // The module is only a carrier of the resource: it is mapped as an image resource from the executable's own
  // folder, never run and never searched for, so a file of that name in the current folder or on the search
  // path (the installer often runs from a downloads folder) cannot get code into the installer.
  base::FilePath exe_dir;
  if (!base::PathService::Get(base::kExeDir, &exe_dir))
    return std::string();
  base::win::ScopedNativeLibrary module(
      LoadLibraryExW(exe_dir.Append(kTestAutomationModuleName).value().c_str(), nullptr,
                     LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
  if (module.is_valid())
    ReadBrandingResource(module.get(), &text);
  return text;
}

const base::DictionaryValue& GetBrandingDictionary() {
  if (const std::string* test_text = GetBrandingTextSeam())
    return GetTestBrandingDictionary(*test_text);
  return g_branding.Get().dictionary();
}

std::string GetBrandingCompanyName() {
  return GetBrandingString("company_name");
}

std::wstring GetCompanyRegistryKeyPath() {
  return L"Software\\" + base::UTF8ToWide(GetBrandingCompanyName());
}

std::string GetBrandingCrashLogProductSuffix() {
  return GetBrandingString("crash_log_product_sufix");
}

std::string GetBrandingDefaultProfilePathTemplate() {
  return GetBrandingString("default_profile_path_template");
}

std::string GetBrandingDomain() {
  return GetBrandingString("domain");
}

std::string GetBrandingExpectedSigner() {
  return GetBrandingString("expected_signer");
}

std::string GetBrandingFileNameBase() {
  return GetBrandingString("file_name_base");
}

int GetBrandingMajorDelta() {
  int delta = 0;
  GetBrandingDictionary().GetInteger("major_delta", &delta);
  return delta;
}

std::string GetBrandingProductName() {
  return GetBrandingString("product_name");
}

std::string GetBrandingShortcutSuffix() {
  return GetBrandingString("shortcut_suffix");
}

bool GetBrandingScheduleAutoupdateTask() {
  return GetBrandingBoolean("schedule_autoupdate_task");
}

std::string GetBrandingUrl(const std::string& name) {
  return GetBrandingString(base::StringPrintf("%s.%s", "urls", name.c_str()));
}

bool GetBrandingUseVastreloMajorForMinor() {
  return GetBrandingBoolean("use_vastrelo_major_for_minor");
}

std::string GetBrandingUserAgentName() {
  return GetBrandingString("user_agent_name");
}

std::string GetBrandingVisibleProductName() {
  return GetBrandingString("visible_product_name");
}

bool GetBrandingWhiteLabeled() {
  return GetBrandingBoolean("white_labeled");
}

std::string GetProductName() {
  return GetBrandingProductName();
}

std::string GetUserAgentName() {
  return GetBrandingUserAgentName();
}

int GetMajorVersion() {
  return kBaseMajorVersion + GetBrandingMajorDelta();
}

std::string GetFullVersionString() {
  const int minor = GetBrandingUseVastreloMajorForMinor() ? GetVastreloMajorVersion() : 0;
  return base::StringPrintf("%d.%d.%d.%d", GetMajorVersion(), minor, kInternalMajorVersion,
                            kInternalMinorVersion);
}

std::string GetEditionSuffix() {
  return " (Edition " + GetStreamName() + ")";
}

std::string GetVisibleProductNameWithStream() {
  return GetBrandingVisibleProductName() + " " + GetStreamName();
}

}  // namespace zorvi::installer
