// Where a task was posted or a message was logged.
#ifndef BASE_LOCATION_H_
#define BASE_LOCATION_H_

namespace base {

class Location {
 public:
  // "Unknown" with line -1 and no program counter.
  Location();
  // The strings must outlive the location (they are literals in practice).
  Location(const char* function_name, const char* file_name, int line_number, const void* program_counter);
  Location(const Location& other) = default;
  Location& operator=(const Location& other) = default;

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line_number() const { return line_number_; }
  const void* program_counter() const { return program_counter_; }

 private:
  const char* function_name_;
  const char* file_name_;
  int line_number_;
  const void* program_counter_;
};

// The return address of the call, that is an address inside the caller.
const void* GetProgramCounter();

}  // namespace base

#define FROM_HERE ::base::Location(__func__, __FILE__, __LINE__, ::base::GetProgramCounter())
// Where the task's own name is not the enclosing function's bare name (a qualified name, or the caller's name
// in a helper that posts for it): `function_name` must be a literal.
#define FROM_HERE_WITH_EXPLICIT_FUNCTION(function_name) \
  ::base::Location(function_name, __FILE__, __LINE__, ::base::GetProgramCounter())

#endif  // BASE_LOCATION_H_
