// Reading and writing the files of the text editor.
#pragma once

#include <cstdint>
#include <string>

// The most characters the editor's control is given room for; a larger file is refused.
constexpr std::int64_t MaxEditorFileSize = 16777216;

// The file's text with its line breaks made single CRs, as the editor's control holds it.
// Raises the platform's file error when the file cannot be read.
std::string ReadEditorFile(const std::string &FileName);

// Writes Text (lines separated by CR) with CR LF line breaks through a temporary sibling file
// that replaces FileName only once it is complete: a failed write raises the platform's error
// and leaves the old file byte for byte as it was, with no temporary file behind. A written file
// is reported to the shared file manager, so that whatever was compiled from it is reloaded.
void WriteEditorFile(const std::string &FileName, const std::string &Text);
