// Makes the editable copy of a definition file: the copy carries exactly one "DraftData=1" line,
// and a kana layout copy starts with the "visible=1" line the layout reader looks for.
#pragma once

#include <istream>
#include <ostream>

// The first line of every editable kana layout file.
extern const wchar_t definitionVisibleLine[];

// Copies the text of `source` into `target` line by line (every written line ends with a line
// feed; a CR before it stays with its line). The first line that begins with "DraftData=" becomes
// "DraftData=1" and later such lines are dropped; without one, "DraftData=1" goes first, or second
// after the first line when `withVisibleLine` is set. With `withVisibleLine` a first line that
// does not begin with "visible=1" gets the full visible line in front of it.
// The answer is the target stream's state: true while it is good. A source stream that has
// already failed (a file that could not be read) writes nothing and answers false.
bool rewriteDefinition(std::wistream& source, std::wostream& target, bool withVisibleLine);
