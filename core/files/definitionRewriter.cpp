#include "core/files/definitionRewriter.h"

#include <string>
#include <vector>

const wchar_t definitionVisibleLine[] = L"visible=1←この行は常に先頭に置き、かつ削除しないでください。";

namespace {

bool beginsWith(const std::wstring& line, const wchar_t* head)
{
    return line.compare(0, std::char_traits<wchar_t>::length(head), head) == 0;
}

const wchar_t draftHead[] = L"DraftData=";
const wchar_t draftLine[] = L"DraftData=1";

}  // namespace

bool rewriteDefinition(std::wistream& source, std::wostream& target, bool withVisibleLine)
{
    // A source that could not be opened or read must not become an "editable copy" that holds
    // nothing but the header lines: that would lose the user's layout and still look like success.
    if (!source) return false;
    std::vector<std::wstring> lines;
    std::wstring line;
    while (std::getline(source, line)) lines.push_back(line);
    if (source.bad()) return false;

    // The first line that says whether the file is a draft is the one that is kept (as "1").
    size_t draftIndex = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (beginsWith(lines[i], draftHead)) {
            draftIndex = i;
            break;
        }
    }
    const bool hasDraftLine = draftIndex < lines.size();

    size_t next = 0;
    if (withVisibleLine) {
        // An empty source still becomes a readable kana layout file.
        if (lines.empty() || !beginsWith(lines[0], L"visible=1")) target << definitionVisibleLine << L'\n';
        if (!lines.empty()) {
            target << (draftIndex == 0 ? std::wstring(draftLine) : lines[0]) << L'\n';
            next = 1;
        }
    }
    if (!hasDraftLine) target << draftLine << L'\n';
    // The first line was written above; with withVisibleLine it may have been the draft line.
    for (size_t i = next; i < lines.size(); ++i) {
        if (i == draftIndex) {
            target << draftLine << L'\n';
        } else if (!(hasDraftLine && i > draftIndex && beginsWith(lines[i], draftHead))) {
            target << lines[i] << L'\n';
        }
    }
    return target.good();
}
