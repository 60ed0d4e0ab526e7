#include "desktop/launcher/installer/package_fetcher/package_fetcher.h"

#include <windows.h>

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/json/json_reader.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/memory/weak_ptr.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/package_fetcher/checksum_checker.h"
#include "desktop/launcher/installer/package_fetcher/download_hosts.h"
#include "desktop/launcher/installer/package_fetcher/lzma_util.h"
#include "desktop/launcher/installer/package_fetcher/package_check.h"
#include "desktop/launcher/installer/package_fetcher/package_claim.h"
#include "desktop/launcher/installer/package_fetcher/payload_reader.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/service/own_executable.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/wininet/wininet.h"
#include "desktop/launcher/installer/wininet/wininet_stats_observers.h"

namespace zorvi::installer {

namespace {

// Tasks carry the name of the step that posted them, for the task profiler and crash reports.
#define FETCHER_LOCATION(function) \
  ::base::Location(function, __FILE__, __LINE__, ::base::GetProgramCounter())

// The update service's development instance on the developer's own machine, asked when the switch above has no
// value.
constexpr wchar_t kDevelopmentPackageServer[] = L"http://localhost:3002/";
constexpr wchar_t kPackageRequestPath[] = L"netinstaller/";
constexpr wchar_t kPartnerContentTemporaryExtension[] = L"partner.tmp";
// A partner file is given up after this many failed downloads in a row.
constexpr int kPartnerTries = 4;
// What other installer processes of the run start from the unpacked package. The fetcher holds them open from their
// unpacking to its end (or the next fetch), sharing only reading: nobody can change, replace, rename or delete
// them meanwhile, so an elevated or waiting process starts exactly what was unpacked from the checked package.
constexpr const wchar_t* kHeldPackageFiles[] = {kPackageInstallerFileName, kPackageLibraryFileName};
// Others may read a file opened so, but neither write, rename nor delete it while it is open.
constexpr uint32_t kOthersOnlyRead =
    base::FileFlags::Open | base::FileFlags::Read | base::FileFlags::ExclusiveWrite;

void AboutToUse(const base::FilePath& file) {
  if (const PackageFileUseHook hook = GetPackageFileUseHook())
    hook(file);
}

// Whether a partner file may take `file_name` in the unpack folder and its files list: only a plain name stays
// inside the folder, and none that names a device (the move would "succeed" into it), ends in a blank (the system
// drops it and writes another name) or names a file the installer reads from its folder that the package or this
// fetcher writes there in some runs only (the installer would read the partner file as its own).
bool IsPartnerFileNameAllowed(const std::wstring& file_name) {
  if (!IsPlainFileName(file_name) || file_name.back() == L' ' || IsDeviceName(file_name))
    return false;
  for (const wchar_t* own_file :
       {kInstallerPrefsIncludeFileName, kServerTrackingDataFileName, kPrefDefaultOverridesFileName, kRootFilesListFileName}) {
    if (base::FilePath::CompareIgnoreCase(file_name, own_file) == 0)
      return false;
  }
  return true;
}

// Whether the file's last line lacks a line break, which its reader accepts. A file that cannot be read counts as
// such: a line break too many only makes an empty line, which lists nothing.
bool EndsInOpenLine(const base::FilePath& path) {
  base::File file(path, base::FileFlags::Open | base::FileFlags::Read);
  const int64_t length = file.IsValid() ? file.GetLength() : -1;
  if (length == 0)
    return false;
  char last = 0;
  return length < 0 || file.Read(length - 1, &last, 1) != 1 || (last != '\r' && last != '\n');
}

}  // namespace

const char* GetFetcherResultName(int status) {
  switch (status) {
    case kPackageReady:
      return "package_ready";
    case kInitializationFailed:
      return "initialization_failed";
    case kDownloadFailed:
      return "download_failed";
    case kUnpackingFailed:
      return "unpacking_failed";
    default:
      return "invalid";
  }
}

// The worker-side fetcher: every step runs on the worker thread and ends by posting the next one, or by starting
// a download whose completion is the next one.
class PackageFetcher::ThreadedFetcher {
 public:
  // `claimed`: the package is claimed (see ClaimPackage); a fetch without the claim would leave its files to
  // other runs' clean-up and fails.
  ThreadedFetcher(base::scoped_refptr<PackageFetcherDelegateProxy> delegate, const base::FilePath& package_path,
                  bool claimed, InstallerStats* installer_stats);
  ThreadedFetcher(const ThreadedFetcher&) = delete;
  ThreadedFetcher& operator=(const ThreadedFetcher&) = delete;
  ~ThreadedFetcher();

  void Start();

 private:
  void FetchDownloadUrl();
  void DownloadPackage();
  void ExtractArchive(const std::string& expected_checksum);
  void UnpackArchive(const base::FilePath& archive_path);
  void OnUnpacked();
  // Returns once the preference file is on disk (or the pool takes no more work).
  void WriteWelcomePagePref(const std::string& welcome_url);
  void DownloadPartnerContent();
  void OnPartnerContentDownloaded(const std::wstring& file_name, const std::string& expected_checksum);
  // Every end of the partner downloads: the files moved into place so far join the files list, then the package
  // is ready. A download given up on leaves the fetch without a result.
  void EndPartnerContent(bool given_up);
  void RecordFetcherResult(int status);
  void NotifyPackageReady();
  // Writes the payload of `reader` into the archive, created afresh and kept open, with others allowed only to read
  // it, until its unpacking reads it through the same handle.
  bool WriteArchive(const PayloadReader& reader);
  // Lets go of the archive and the unpacked files held, so that they can be deleted.
  void LetGoOfFiles();

  // Logs `reason`, keeps it as the fetch's "failure_reason" and ends the fetch with `status`.
  void Fail(const char* reason, int status);
  base::FilePath UnpackFolder() const { return package_path_.RemoveExtension(); }
  base::FilePath ArchivePath() const { return package_path_.ReplaceExtension(L"7z"); }
  base::FilePath PartnerContentTemporaryPath() const {
    return package_path_.ReplaceExtension(kPartnerContentTemporaryExtension);
  }
  static void PostStep(const base::Location& from_here, base::Closure step) {
    base::ThreadTaskRunnerHandle::Get()->PostTask(from_here, std::move(step));
  }
  // A step bound to this fetcher: it does nothing once the fetcher is gone.
  template <typename... Args>
  base::Closure Step(void (ThreadedFetcher::*step)(Args...), const std::decay_t<Args>&... arguments) {
    return base::Bind(step, weak_factory_.GetWeakPtr(), arguments...);
  }

  base::scoped_refptr<PackageFetcherDelegateProxy> delegate_;
  int restarts_ = 0;
  int partner_failures_ = 0;
  const base::FilePath package_path_;
  const bool claimed_;
  base::FilePath own_executable_;  // empty when the path service does not know it
  std::unique_ptr<PayloadReader> payload_reader_;
  std::unique_ptr<Wininet> downloader_;
  std::string reply_text_;
  std::unique_ptr<base::Value> reply_value_;
  const base::ListValue* partner_list_ = nullptr;  // inside reply_value_
  size_t partner_index_ = 0;
  std::vector<std::string> partner_file_names_;
  InstallerStats* const installer_stats_;
  std::unique_ptr<InstallerStats> fetch_stats_;
  std::unique_ptr<InstallerStats> partner_stats_;
  std::unique_ptr<InstallerStats> try_stats_;
  base::File archive_;  // from its writing to its unpacking
  std::vector<base::File> held_files_;  // the downloaded package and the unpacked kHeldPackageFiles
  base::WeakPtrFactory<ThreadedFetcher> weak_factory_{this};
};

PackageFetcher::ThreadedFetcher::ThreadedFetcher(base::scoped_refptr<PackageFetcherDelegateProxy> delegate,
                                                 const base::FilePath& package_path, bool claimed,
                                                 InstallerStats* installer_stats)
    : delegate_(std::move(delegate)),
      package_path_(package_path),
      claimed_(claimed),
      downloader_(std::make_unique<Wininet>(delegate_.get(), delegate_.get())),
      installer_stats_(installer_stats) {}

PackageFetcher::ThreadedFetcher::~ThreadedFetcher() {
  LOG(INFO) << "Terminating the package fetcher";
  // Notifications still queued for the controller are dropped from here on.
  delegate_->Detach();
  if (downloader_->state() != Wininet::kFailed)
    downloader_->Stop();
  LetGoOfFiles();
  base::DeleteFile(package_path_, false);
  base::DeleteFile(ArchivePath(), false);
  base::DeleteFile(UnpackFolder(), true);
  // A partner download cut short here left its file; the stop closed it.
  base::DeleteFile(PartnerContentTemporaryPath(), false);
  // The members go in reverse order: the weak pointers first, the proxy the downloader reports to last.
}

void PackageFetcher::ThreadedFetcher::Start() {
  LOG(INFO) << "Starting the package fetcher";
  fetch_stats_ = installer_stats_->AppendDictionary(kFetchesStatsKey);
  fetch_stats_->SetInteger("try_number", restarts_);
  fetch_stats_->RecordTime("start_time");
  delegate_->NotifyStatusChanged(kFetchStarted);

  LetGoOfFiles();
  if (!claimed_ || !base::DeleteFile(package_path_, false) || !base::DeleteFile(UnpackFolder(), true)) {
    Fail("Unable to obtain or clean the download/extraction path", kInitializationFailed);
    return;
  }
  // Runs that ended without cleaning up (killed, or the system stopped) left their packages, some over a hundred
  // megabytes; living runs' stay.
  RemoveAbandonedPackages(package_path_.DirName());
  delegate_->NotifyStatusChanged(kDownloadFolderCleaned);

  // Whatever an earlier fetch was told does not carry over into this one.
  partner_list_ = nullptr;
  reply_value_.reset();

  if (!base::PathService::Get(base::kExeFile, &own_executable_))
    own_executable_.clear();
  // The reader exists even without a path, so that tracking data from the command line has a place to live. An
  // installer run reads its payload through the handle that holds its executable (see own_executable.h).
  const base::MemoryMappedFile* held_executable = HeldOwnExecutable();
  payload_reader_ = held_executable ? std::make_unique<PayloadReader>(held_executable)
                                    : std::make_unique<PayloadReader>(own_executable_);
  const bool payload_read = !own_executable_.empty() && payload_reader_->ReadPayload();
  if (payload_read && payload_reader_->is_full_package()) {
    LOG(INFO) << "Found full package";
    delegate_->NotifyStatusChanged(kExtractingPackage);
    // A failed write leaves no archive open, which the unpacking then reports.
    WriteArchive(*payload_reader_);
    PostStep(FETCHER_LOCATION("PackageFetcher::ThreadedFetcher::Start"),
             Step(&ThreadedFetcher::UnpackArchive, ArchivePath()));
    return;
  }
  if (payload_read) {
    LOG(INFO) << "Tracking data: " << payload_reader_->GetPayload();
  } else {
    LOG(WARNING) << "Failed reading payload";
    if (payload_reader_->is_corrupted()) {
      Fail("Corrupted payload", kUnpackingFailed);
      return;
    }
    const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
    if (command_line.HasSwitch(kServerTrackingBlobSwitch)) {
      LOG(INFO) << "Using tracking data from command line";
      payload_reader_->set_override_text(command_line.GetSwitchValueASCII(kServerTrackingBlobSwitch));
      payload_reader_->set_payload_read(true);
    }
  }
  const std::string tracking_data = payload_reader_->GetPayload();
  if (!tracking_data.empty())
    delegate_->NotifyTrackingDataObtained(tracking_data);
  PostStep(FETCHER_LOCATION("PackageFetcher::ThreadedFetcher::Start"), Step(&ThreadedFetcher::FetchDownloadUrl));
}


void PackageFetcher::ThreadedFetcher::FetchDownloadUrl() {
  LOG(INFO) << "Preparing to fetch the download URL";
  delegate_->NotifyStatusChanged(kFetchingDownloadUrl);
  std::vector<std::wstring> hosts;
  GetAllowedDownloadHosts(&hosts);
  downloader_->set_allowed_hosts(hosts);

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  std::wstring url = command_line.GetSwitchValueNative(kInternalPackageServerSwitch);
  if (url.empty()) {
    // Both bases end with '/'.
    const std::wstring base = command_line.HasSwitch(kInternalPackageServerSwitch)
                                  ? kDevelopmentPackageServer
                                  : base::UTF8ToWide(GetBrandingUrl("autoupdate"));
    url = base + kPackageRequestPath + base::UTF8ToWide(GetStreamName());
  }
  LOG(INFO) << "Fetching the download URL";
  fetch_stats_->RecordTime("fetch_download_url_start_time");
  if (!downloader_->StartDownload(url, payload_reader_->GetPayload(), Step(&ThreadedFetcher::DownloadPackage),
                                  std::make_unique<WininetStringResponseWriter>(&reply_text_),
                                  std::make_unique<WininetErrorStatusObserver>(fetch_stats_.get(),
                                                                               "fetch_download_url_"))) {
    Fail("Failed fetching the download URL", kDownloadFailed);
  }
}

void PackageFetcher::ThreadedFetcher::DownloadPackage() {
  if (downloader_->state() != Wininet::kCompleted) {
    Fail("Failed fetching the download URL", kDownloadFailed);
    return;
  }
  delegate_->NotifyStatusChanged(kDownloadingPackage);
  VLOG(1) << "Parsing the fetched URL";
  partner_list_ = nullptr;
  reply_value_ = base::JsonReader::Read(reply_text_);
  const base::DictionaryValue* reply = nullptr;
  std::wstring address;
  std::string checksum;
  if (!reply_value_ || !reply_value_->GetAsDictionary(&reply) || !reply->GetString("installer", &address) ||
      !reply->GetString("installer_checksum", &checksum)) {
    Fail("Failed parsing json reply", kDownloadFailed);
    return;
  }
  const std::string address_utf8 = base::WideToUTF8(address);
  fetch_stats_->SetString("download_url", address_utf8);
  installer_stats_->SetString("download_url", address_utf8);
  LOG(INFO) << "Preparing to fetch the installer";

  auto writer = std::make_unique<WininetFileResponseWriter>();
  if (!writer->Open(package_path_)) {
    Fail("Failed initializing the file to use as download destination", kDownloadFailed);
    return;
  }
  reply->GetList("partner_content", &partner_list_);
  fetch_stats_->RecordTime("download_start_time");
  installer_stats_->SetCurrentTime("installation_start_download_time");
  // The package and the partner files may come from any host the service names.
  downloader_->set_allowed_hosts(std::vector<std::wstring>());
  if (!downloader_->StartDownload(
          address, std::string(), Step(&ThreadedFetcher::ExtractArchive, checksum), std::move(writer),
          std::make_unique<WininetChunkStatsObserver>(fetch_stats_.get(), kDownloadChunksStatsKey))) {
    Fail("Failed downloading the Zorvi package", kDownloadFailed);
  }
}

void PackageFetcher::ThreadedFetcher::ExtractArchive(const std::string& expected_checksum) {
  fetch_stats_->RecordTime("download_end_time");
  if (downloader_->state() != Wininet::kCompleted) {
    Fail("Failed downloading the Zorvi package", kDownloadFailed);
    return;
  }
  // The package is opened once and held until its archive is written out: nobody can change, replace, rename or
  // delete it meanwhile, so the checks, the probes (which start it by its name) and the archive all concern the
  // same bytes. Every check reads through this handle.
  base::MemoryMappedFile package;
  if (!package.Initialize(base::File(package_path_, kOthersOnlyRead)))
    LOG(ERROR) << "Unable to read " << package_path_.value();
  PackageProbeAnswers answers;
  const char* failure = CheckHeldPackage(package, package_path_, &expected_checksum, own_executable_, &answers);
  if (answers.version_probed) {
    VLOG(1) << "Downloaded package version: " << answers.internal_version;
    fetch_stats_->SetString("internal_version", answers.internal_version);
  }
  if (answers.stream_probed) {
    VLOG(1) << "Downloaded package stream: " << answers.stream;
    fetch_stats_->SetString("stream", answers.stream);
  }
  if (failure) {
    Fail(package.IsValid() ? failure : "Checksum incorrect for the downloaded package", kDownloadFailed);
    return;
  }
  fetch_stats_->RecordTime("extract_start_time");
  delegate_->NotifyStatusChanged(kExtractingPackage);

  AboutToUse(package_path_);
  // A reader of its own: the installer's reader keeps the tracking data (or its override) that is saved beside
  // the unpacked package.
  PayloadReader package_reader(&package);
  if (!package_reader.ReadPayload() || !package_reader.is_full_package()) {
    Fail("Could not find 7z payload in full package", kDownloadFailed);
    return;
  }
  if (!WriteArchive(package_reader)) {
    Fail("Could not write out 7z archive from full package", kUnpackingFailed);
    return;
  }
  // An elevated process of the run copies the package from here and checks the copy: what it finds is what was
  // checked here, until the fetcher lets go.
  held_files_.emplace_back(package_path_, kOthersOnlyRead);
  PostStep(FETCHER_LOCATION("PackageFetcher::ThreadedFetcher::ExtractArchive"),
           Step(&ThreadedFetcher::UnpackArchive, ArchivePath()));
}

void PackageFetcher::ThreadedFetcher::UnpackArchive(const base::FilePath& archive_path) {
  LOG(INFO) << "Unpacking files from archive";
  fetch_stats_->RecordTime("unpack_start_time");
  installer_stats_->SetCurrentTime("installation_start_unpacking_time");
  const base::FilePath unpack_folder = UnpackFolder();
  if (!base::CreateDirectory(unpack_folder)) {
    Fail("Could not create unpacking folder", kUnpackingFailed);
    return;
  }
  AboutToUse(archive_path);
  LzmaUtil lzma;
  lzma.set_delegate(delegate_.get());
  lzma.set_files_to_hold(std::vector<std::wstring>(std::begin(kHeldPackageFiles), std::end(kHeldPackageFiles)));
  const bool unpacked = lzma.OpenArchive(std::move(archive_)) == 0 && lzma.UnPack(unpack_folder) == 0;
  lzma.CloseArchive();
  if (!unpacked) {
    Fail("Archive unpacking failed", kUnpackingFailed);
    return;
  }
  for (base::File& held : lzma.TakeHeldFiles())
    held_files_.push_back(std::move(held));
  if (!payload_reader_->is_full_package() && !payload_reader_->GetPayload().empty() &&
      !payload_reader_->WritePayloadToFile(unpack_folder.Append(kServerTrackingDataFileName))) {
    LOG(WARNING) << "Failed saving tracking data to unpacked installer.";
  }
  PostStep(FETCHER_LOCATION("PackageFetcher::ThreadedFetcher::UnpackArchive"), Step(&ThreadedFetcher::OnUnpacked));
  base::DeleteFile(archive_path, false);
}

void PackageFetcher::ThreadedFetcher::OnUnpacked() {
  fetch_stats_->RecordTime("unpack_end_time");
  installer_stats_->SetCurrentTime("installation_unpack_complete_time");
  const base::DictionaryValue* reply = nullptr;
  std::string welcome_url;
  if (reply_value_ && reply_value_->GetAsDictionary(&reply) && reply->GetString("url_welcome", &welcome_url)) {
    VLOG(1) << "Writing welcome page url pref";
    WriteWelcomePagePref(welcome_url);
  }
  if (!partner_list_ || partner_list_->empty()) {
    NotifyPackageReady();
    return;
  }
  LOG(INFO) << "We have extra partner content";
  partner_failures_ = 0;
  partner_index_ = 0;
  partner_file_names_.clear();
  partner_stats_ = fetch_stats_->AppendDictionary("addtional_files");
  delegate_->NotifyStatusChanged(kFetchingPartnerContent);
  DownloadPartnerContent();
}

void PackageFetcher::ThreadedFetcher::WriteWelcomePagePref(const std::string& welcome_url) {
  const base::FilePath prefs_path = UnpackFolder().Append(kInstallerPrefsIncludeFileName);
  PrefsTaskPool* prefs_pool = PrefsTaskPool::GetInstance();
  const base::scoped_refptr<JsonPrefStore> store = prefs_pool->CreatePrefStore(prefs_path);
  store->SetValue(kWelcomeUrlPref, std::make_unique<base::StringValue>(welcome_url), 0);
  // The installation may start as soon as the package is ready and reads the file then.
  prefs_pool->WriteNow(store.get());
}

void PackageFetcher::ThreadedFetcher::DownloadPartnerContent() {
  LOG(INFO) << "Preparing to download a partner content file";
  const base::Value* entry_value = nullptr;
  const base::DictionaryValue* entry = nullptr;
  std::wstring href;
  std::wstring file_name;
  std::string checksum;
  if (!partner_list_->Get(partner_index_, &entry_value) || !entry_value->GetAsDictionary(&entry) ||
      !entry->GetString("href", &href) || !entry->GetString("filename", &file_name) ||
      !entry->GetStringASCII("checksum", &checksum) || !IsPartnerFileNameAllowed(file_name)) {
    LOG(ERROR) << "Failed parsing partner content part of JSON reply";
    EndPartnerContent(false);
    return;
  }
  partner_stats_->SetString("download_url", base::WideToUTF8(href));
  partner_stats_->SetInteger("download_succeeded", 0);
  try_stats_ = partner_stats_->AppendDictionary("download_tries");
  try_stats_->RecordTime("download_start_time");
  try_stats_->SetInteger("try_number", partner_failures_);

  auto writer = std::make_unique<WininetFileResponseWriter>();
  if (!writer->Open(PartnerContentTemporaryPath())) {
    LOG(ERROR) << "Failed initializing the file to use as download destination";
    EndPartnerContent(false);
    return;
  }
  if (!downloader_->StartDownload(href, std::string(),
                                  Step(&ThreadedFetcher::OnPartnerContentDownloaded, file_name, checksum),
                                  std::move(writer), std::make_unique<WininetErrorStatusObserver>(try_stats_.get(), ""))) {
    LOG(ERROR) << "Failed downloading partner content";
    base::DeleteFile(PartnerContentTemporaryPath(), false);
    EndPartnerContent(false);
  }
}

void PackageFetcher::ThreadedFetcher::OnPartnerContentDownloaded(const std::wstring& file_name,
                                                                 const std::string& expected_checksum) {
  try_stats_->RecordTime("download_end_time");
  const base::FilePath temporary = PartnerContentTemporaryPath();
  if (downloader_->state() != Wininet::kCompleted || !ChecksumChecker::Check(temporary, expected_checksum)) {
    LOG(ERROR) << "Failed downloading partner content";
    base::DeleteFile(temporary, false);
    const int earlier_failures = partner_failures_++;
    // A download that already retried on its own and still failed is not asked for again.
    if (earlier_failures >= kPartnerTries - 1 || downloader_->retry_count() != 0) {
      LOG(INFO) << "Giving up on partner content download";
      EndPartnerContent(true);
      return;
    }
    LOG(INFO) << "Retrying partner content download";
    DownloadPartnerContent();
    return;
  }
  const base::FilePath unpack_folder = UnpackFolder();
  // Never over a file of the signed package (the installer run from this folder, say): the move replaces
  // nothing, and the file system compares the names regardless of case.
  if (!::MoveFileExW(temporary.value().c_str(), unpack_folder.Append(file_name).value().c_str(),
                     MOVEFILE_COPY_ALLOWED)) {
    PLOG(ERROR) << "Failed moving partner content into place";
    base::DeleteFile(temporary, false);
    EndPartnerContent(false);
    return;
  }
  partner_stats_->SetInteger("download_succeeded", 1);
  partner_failures_ = 0;
  partner_file_names_.push_back(base::WideToUTF8(file_name));
  if (++partner_index_ < partner_list_->GetSize()) {
    partner_stats_ = fetch_stats_->AppendDictionary("addtional_files");
    DownloadPartnerContent();
    return;
  }
  EndPartnerContent(false);
}

void PackageFetcher::ThreadedFetcher::EndPartnerContent(bool given_up) {
  if (!partner_file_names_.empty()) {
    const base::FilePath files_list = UnpackFolder().Append(kFilesListFileName);
    // The first name starts a line of its own, not the end of the package's last one.
    const std::string listed = (EndsInOpenLine(files_list) ? "\r\n" : "") +
                               base::JoinString(partner_file_names_, "\r\n") + "\r\n";
    CHECK_LE(listed.size(), static_cast<size_t>(INT_MAX));
    if (!base::AppendToFile(files_list, listed.data(), static_cast<int>(listed.size())))
      LOG(ERROR) << "Failed adding partner content to the files list";
  }
  if (given_up) {
    delegate_->NotifyStatusChanged(kPackageReady);
    return;
  }
  NotifyPackageReady();
}

void PackageFetcher::ThreadedFetcher::RecordFetcherResult(int status) {
  ++restarts_;
  installer_stats_->SetInteger("fetcher_restarts", restarts_);
  fetch_stats_->SetString("result", GetFetcherResultName(status));
  delegate_->NotifyStatusChanged(status);
}

void PackageFetcher::ThreadedFetcher::NotifyPackageReady() {
  fetch_stats_->RecordTime("package_ready_time");
  LOG(INFO) << "Package ready.";
  installer_stats_->SetCurrentTime("package_ready_time");
  fetch_stats_->SetString("result", GetFetcherResultName(kPackageReady));
  delegate_->NotifyStatusChanged(kPackageReady);
}

bool PackageFetcher::ThreadedFetcher::WriteArchive(const PayloadReader& reader) {
  archive_ = base::File(ArchivePath(), base::FileFlags::CreateAlways | base::FileFlags::Read |
                                           base::FileFlags::Write | base::FileFlags::ExclusiveWrite);
  if (archive_.IsValid() && reader.WritePayloadToFile(&archive_))
    return true;
  archive_.Close();
  return false;
}

void PackageFetcher::ThreadedFetcher::LetGoOfFiles() {
  archive_.Close();
  held_files_.clear();
}

void PackageFetcher::ThreadedFetcher::Fail(const char* reason, int status) {
  LOG(ERROR) << reason;
  fetch_stats_->SetString("failure_reason", reason);
  RecordFetcherResult(status);
}

PackageFetcher::PackageFetcher(const base::FilePath& download_folder, InstallerStats* installer_stats,
                               UICallbackRunner* runner, PackageFetcherDelegate* delegate)
    : package_path_(download_folder.Append(MakePackageName() + L".exe")),
      claim_(ClaimPackage(package_path_.RemoveExtension())),
      threaded_fetcher_(nullptr),
      worker_("Package fetcher worker") {
  CHECK(runner);
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy(new PackageFetcherDelegateProxy(delegate, runner));
  threaded_fetcher_ = new ThreadedFetcher(std::move(proxy), package_path_, claim_.IsValid(), installer_stats);
  CHECK(worker_.StartWithOptions(base::Thread::Options(base::MessageLoop::TYPE_DEFAULT, 0)));
}

PackageFetcher::~PackageFetcher() {
  // Non-nestable: it runs after every step queued before it and never inside one of them. The worker ends
  // once it has run.
  worker_.task_runner()->PostNonNestableTask(FETCHER_LOCATION("PackageFetcher::DeleteThreadedFetcher"),
                                             base::Bind(&PackageFetcher::DeleteThreadedFetcher, threaded_fetcher_));
  worker_.Stop();
}

void PackageFetcher::Start() {
  // The raw pointer is safe: the deletion is posted to the same thread after any Start.
  worker_.task_runner()->PostTask(FETCHER_LOCATION("PackageFetcher::Start"),
                                  base::Bind(&ThreadedFetcher::Start, base::Unretained(threaded_fetcher_)));
}

base::FilePath PackageFetcher::unpack_folder() const {
  return package_path_.RemoveExtension();
}

// static
void PackageFetcher::DeleteThreadedFetcher(ThreadedFetcher* threaded_fetcher) {
  delete threaded_fetcher;
}

}  // namespace zorvi::installer
