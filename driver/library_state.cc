#include "driver/library_state.h"

namespace qvpa {

LibraryState::LibraryState(Registration aRegister) { aRegister(fRegistry); }

LibraryState::~LibraryState() = default;

}  // namespace qvpa
