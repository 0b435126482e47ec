#pragma once
// File-name helpers with the program's rules: "/" separates folders; an extension is
// the text from the last "." of the file-name part.
#include <string>

namespace qm {

// The path with the extension of its file-name part replaced by `ext` (".ini");
// a name without an extension gets `ext` appended.
std::string changeFileExt(const std::string& path, const std::string& ext);
// The file-name part of a path (after the last "/").
std::string extractFileName(const std::string& path);
// The folder part of a path, with its trailing "/"; empty when there is none.
std::string extractFilePath(const std::string& path);

} // namespace qm
