// The file that the crash test's child writes, generation after generation: one JSON object of exactly
// kGenerationFileSize bytes, {"generation":N,"payload":"..."}, whose payload names N every few bytes so that
// bytes of two generations can never pass for one. Shared by the test and its child process.
#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_TEST_CONTENT_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_TEST_CONTENT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace important_file_test {

constexpr size_t kGenerationFileSize = 1024 * 1024;

inline std::string MakeGenerationContent(uint32_t generation) {
  const std::string number = std::to_string(generation);
  std::string content = "{\"generation\":" + number + ",\"payload\":\"";
  const std::string trailer = "\"}";
  const size_t payload_end = kGenerationFileSize - trailer.size();
  content.reserve(kGenerationFileSize);
  for (uint32_t block = 0; content.size() < payload_end; ++block) {
    std::string piece = "g" + number + "b" + std::to_string(block) + ";";
    piece.resize(std::min(piece.size(), payload_end - content.size()));
    content += piece;
  }
  content += trailer;
  return content;
}

}  // namespace important_file_test

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_TEST_CONTENT_H_
