#include "runtime/Error.h"

namespace varn {

std::string RuntimeDescription(int32_t lNumber) {
  switch (lNumber) {
    case errInvalidCall: return "Invalid procedure call or argument";
    case errOverflow: return "Overflow";
    case errOutOfMemory: return "Out of memory";
    case errSubscript: return "Subscript out of range";
    case errTypeMismatch: return "Type mismatch";
    case errFileNotFound: return "File not found";
    case errBadFileMode: return "Bad file mode";
    case errPathNotFound: return "Path not found";
    case errObjectNotSet: return "Object variable or With block variable not set";
    case errInvalidUseOfNull: return "Invalid use of Null";
    case errDuplicateKey: return "This key is already associated with an element of this collection";
    default: return "Application-defined or object-defined error";
  }
}

void RaiseError(int32_t lNumber, const std::string& sDescription) {
  throw clsError(lNumber, sDescription.empty() ? RuntimeDescription(lNumber) : sDescription);
}

}  // namespace varn
