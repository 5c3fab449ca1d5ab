// The user's text for a system error number: every message that names why a file or a
// folder could not be read, written, moved or removed words it through this routine.
#pragma once

#include <QString>

namespace lb {

// The cause in Russian ("" for 0). A number without its own wording is named with its
// number and symbolic name, never with the system's English sentence.
QString SystemErrorText(int error);

}  // namespace lb
