// Block commands of the editor: indent, outdent, comment and uncomment whole lines.
#pragma once

#include <string>
#include <vector>

class TEditorText;

enum class TBlockCommand { Indent, Outdent, Comment, Uncomment };

// The new texts of the lines of a block (each without its line break).
std::vector<std::string> ApplyBlockCommand(TBlockCommand Command, const std::vector<std::string> &Lines,
                                           bool TabCharacters);

// Runs a block command on the lines of the selection: from the line of the selection's start to
// the line of its last character (a selection ending at the start of a line leaves that line
// out). Only changed lines are replaced. Afterwards the selection covers the whole lines, up to
// the start of the line after the block (or the end of the text). Returns false, and does
// nothing, when the selection is empty.
bool RunBlockCommand(TEditorText &Text, TBlockCommand Command, bool TabCharacters);
