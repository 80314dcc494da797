// Seconds to read large definition files. Files load on the main thread, which also answers the
// low-level keyboard hook, so each figure must stay far below the time after which the system
// drops a hook that answers too slowly. Run by hand under Wine; prints its figures.
#include "core/files/definitionRewriter.h"
#include "core/files/layoutReader.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/files/textFile.h"

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

// Letters of the first alphabet that name keys.
const wchar_t letters[] = L"0123456789abcdefghijklmnopqrstuvwxyz-^\\@[;:],./_";
const size_t letterCount = sizeof letters / sizeof letters[0] - 1;

class stopwatch {
public:
    stopwatch()
    {
        QueryPerformanceFrequency(&m_frequency);
        QueryPerformanceCounter(&m_start);
    }
    double seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency, m_start;
};

std::wstring tempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

bool store(const std::wstring& path, const std::wstring& text)
{
    textFileWriter out(path);
    out << text;
    return out.save().good();
}

void figure(const char* what, double seconds, size_t count, const char* unit, int messages)
{
    std::printf("%-58s %8.3f s  (%zu %s, %d messages)\n", what, seconds, count, unit, messages);
}

// 100k entries of three strokes each, all different, as the settings holder reads a file.
void layoutFile()
{
    std::wstring text = L"visible=1\r\nStrokeMode=1\r\n";
    size_t lines = 0;
    for (size_t i = 0; lines < 100000; ++i, ++lines) {
        text += L'{';
        text += letters[i % letterCount];
        text += letters[i / letterCount % letterCount];
        text += letters[i / letterCount / letterCount % letterCount];
        text += L"}\tあ\r\n";
    }
    const std::wstring path = tempPath(L"tvnBench.tvn_kana");
    if (!store(path, text)) {
        std::printf("could not write %ls\n", path.c_str());
        return;
    }
    stopwatch clock;
    textFileReader in(path);
    layoutReader reader(1);
    layoutTable table = readLayout(reader, in);
    figure("layout file, 100k three-stroke entries", clock.seconds(), table.entries.size(), "entries",
           reader.reportCount());

    // The "duplicate" button: read, rewrite, write.
    stopwatch copyClock;
    textFileReader source(path);
    textFileWriter copy(tempPath(L"tvnBench copy.tvn_kana"));
    rewriteDefinition(source, copy, true);
    copy.save();
    figure("copying that file for editing", copyClock.seconds(), copy.str().size(), "characters", copy.good() ? 0 : 1);
    DeleteFileW(path.c_str());
    DeleteFileW(tempPath(L"tvnBench copy.tvn_kana").c_str());
}

void layoutLines()
{
    const size_t keys = 400000;
    {
        // One brace group: a single entry of 400k strokes.
        std::wstring line = L"StrokeMode=1\n{";
        for (size_t i = 0; i < keys; ++i) line += letters[i % letterCount];
        line += L"}\tx\n";
        std::wistringstream in(line);
        stopwatch clock;
        layoutReader reader(1);
        layoutTable table = readLayout(reader, in);
        figure("layout line, 400k keys in one brace group", clock.seconds(), table.entries.size(), "entries",
               reader.reportCount());
    }
    {
        // One stroke per key, one output per stroke: the repeated keys are reported duplicates.
        std::wstring line;
        for (size_t i = 0; i < keys; ++i) line += letters[i % letterCount];
        line += L'\t';
        for (size_t i = 0; i < keys; ++i) line += i == 0 ? L"か" : L"$か";
        line += L'\n';
        std::wistringstream in(line);
        stopwatch clock;
        layoutReader reader(1);
        layoutTable table = readLayout(reader, in);
        figure("layout line, 400k keys with an output each", clock.seconds(), table.entries.size(), "entries",
               reader.reportCount());
    }
}

// One line per character unit, 40k and 64k different units.
void substitutionFile(size_t count, const char* what)
{
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text += static_cast<wchar_t>(0x100 + i);
        text += L"\tka\r\n";
    }
    std::wistringstream in(text);
    stopwatch clock;
    substitutionReader reader(1);
    substitutionTable table = readSubstitution(reader, in);
    figure(what, clock.seconds(), table.entries.size(), "entries", reader.reportCount());
}

void swapLines()
{
    std::wstring text;
    for (size_t i = 0; i < 400000; ++i) text += letters[i % letterCount];
    text += L"\r\n" + text;
    std::wistringstream in(text);
    stopwatch clock;
    swapReader reader(1);
    swapTable table = readKeySwap(reader, in);
    figure("key-swap lines, 400k keys each", clock.seconds(), table.swapPairs.size(), "pairs", reader.reportCount());
}

}  // namespace

int main()
{
    layoutFile();
    layoutLines();
    substitutionFile(40000, "output-conversion file, 40k lines");
    substitutionFile(64000, "output-conversion file, 64k lines");
    swapLines();
    return 0;
}
