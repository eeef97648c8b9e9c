#pragma once
// Entry-name rules shared by package verification and extraction.
#include <string>

namespace hb {

// A file entry name that stays inside the folder it is extracted to: no "\" or ":", no leading
// "/", and no empty, "." or ".." piece between the "/" separators.
bool IsSafeEntryName(const std::string& name);

// Names that Windows maps to devices (CON, NUL, COM1, ... with any extension) or silently changes
// (a piece ending in "." or " "); extracting them would not create the file the package names.
bool IsPortableEntryName(const std::string& name);

} // namespace hb
