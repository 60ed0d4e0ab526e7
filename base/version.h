// A dotted numeric version such as 1.2.3.4, ordered component by component with missing components counting
// as 0 (1.0.0 equals 1).
#ifndef BASE_VERSION_H_
#define BASE_VERSION_H_

#include <cstdint>
#include <string>
#include <vector>

namespace base {

class Version {
 public:
  // An invalid version (no components).
  Version();
  // Parsed with ParseVersionNumbers; text that does not parse leaves the version invalid.
  explicit Version(const std::string& version_str);

  // True when the version has at least one component.
  bool IsValid() const;

  // -1, 0 or 1 as this version is lower than, equal to or higher than `other`; both must be valid.
  int CompareTo(const Version& other) const;

  const std::vector<uint32_t>& components() const { return components_; }

 private:
  std::vector<uint32_t> components_;  // most significant first
};

// Reads the text's "."-separated unsigned 32-bit decimal numbers into *parsed. Fails for an empty text, an
// empty piece, whitespace, signs, other characters, values above 4294967295 and a first number with leading
// zeros ("01.2"; later ones may have them: "1.02" is 1.2). On failure *parsed may hold the numbers of the
// pieces before the bad one.
bool ParseVersionNumbers(const std::string& version_str, std::vector<uint32_t>* parsed);

}  // namespace base

#endif  // BASE_VERSION_H_
