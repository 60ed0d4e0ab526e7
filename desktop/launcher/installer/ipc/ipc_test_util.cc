#include "desktop/launcher/installer/ipc/ipc_test_util.h"

namespace zorvi::installer {

std::string BytesOf(const base::PackedBuffer& message) {
  return std::string(static_cast<const char*>(message.data()), message.size());
}

std::wstring MailslotPath(const std::wstring& name) {
  return L"\\\\.\\mailslot\\" + name;
}

RawMailslot::RawMailslot(const std::wstring& name)
    : handle_(CreateMailslotW(MailslotPath(name).c_str(), 0, 0, nullptr)) {}

std::vector<std::string> RawMailslot::ReadWaiting() {
  std::vector<std::string> datagrams;
  DWORD next_size = 0;
  while (GetMailslotInfo(handle_.get(), nullptr, &next_size, nullptr, nullptr) && next_size != MAILSLOT_NO_MESSAGE) {
    std::string datagram(next_size, '\0');
    DWORD read = 0;
    if (!ReadFile(handle_.get(), datagram.data(), next_size, &read, nullptr) && next_size != 0)
      break;
    datagram.resize(read);
    datagrams.push_back(datagram);
  }
  return datagrams;
}

RawWriter::RawWriter(const std::wstring& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr)) {}

bool RawWriter::Write(const std::string& datagram) {
  DWORD written = 0;
  return WriteFile(handle_.get(), datagram.data(), static_cast<DWORD>(datagram.size()), &written, nullptr) &&
         written == datagram.size();
}

}  // namespace zorvi::installer
