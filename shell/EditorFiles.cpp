#include "EditorFiles.h"

#include "CompFileManager.h"
#include "EditorText.h"
#include "GenClasses.h"

std::string ReadEditorFile(const std::string &FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = stream.Size();
    if (size > MaxEditorFileSize)
        throw EReadError("The file '%s' is too large for the editor", FileName);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!text.empty())
        stream.ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
    return NormalizeLineBreaks(text);
}

void WriteEditorFile(const std::string &FileName, const std::string &Text) {
    const std::string content = ToCrLf(Text);
    {
        TSafeFileStream stream(FileName, fmCreate);
        if (!content.empty())
            stream.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
        stream.Commit();
    }
    if (FileManager())
        FileManager()->FileChanged(FileName);
}
