#include "core/files/textFile.h"

#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

const std::wstring bad = unsupportedCharText;

std::string bytesOf(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::wstring readAll(std::wistream& in)
{
    std::wstring out;
    wchar_t ch;
    while (in.get(ch)) out += ch;
    return out;
}

}  // namespace

TEST(textDecoding, byteOrderMarksSelectTheEncoding)
{
    // The same text "aあ" in every marked form, and CP932 without a mark.
    EXPECT_EQ(decodeFileText(bytesOf({0, 0, 0xFE, 0xFF, 0, 0, 0, 'a', 0, 0, 0x30, 0x42})), L"aあ");
    EXPECT_EQ(decodeFileText(bytesOf({0xFF, 0xFE, 0, 0, 'a', 0, 0, 0, 0x42, 0x30, 0, 0})), L"aあ");
    EXPECT_EQ(decodeFileText(bytesOf({0xFE, 0xFF, 0, 'a', 0x30, 0x42})), L"aあ");
    EXPECT_EQ(decodeFileText(bytesOf({0xFF, 0xFE, 'a', 0, 0x42, 0x30})), L"aあ");
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 'a', 0xE3, 0x81, 0x82})), L"aあ");
    EXPECT_EQ(decodeFileText(bytesOf({'a', 0x82, 0xA0})), L"aあ");
    // A mark alone is an empty text; nothing at all is an empty text.
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF})), L"");
    EXPECT_EQ(decodeFileText(bytesOf({0xFF, 0xFE, 0, 0})), L"");
    EXPECT_EQ(decodeFileText(""), L"");
}

TEST(textDecoding, partialUnitsAtTheEndAreDropped)
{
    EXPECT_EQ(decodeFileText(bytesOf({0xFF, 0xFE, 'a', 0, 'b'})), L"a");
    EXPECT_EQ(decodeFileText(bytesOf({0xFF, 0xFE, 0, 0, 'a', 0, 0, 0, 'b', 0, 0})), L"a");
}

TEST(textDecoding, utf32OutOfRangeUnitsAndSupplementaryCharacters)
{
    // 0x1F600 becomes a surrogate pair; 0x110000 and a unit with its top byte set are replaced.
    std::string bytes = bytesOf({0, 0, 0xFE, 0xFF, 0, 0x01, 0xF6, 0x00, 0, 0x11, 0, 0,
                                 0x01, 0, 0, 'a', 0, 0, 0, 'z'});
    EXPECT_EQ(decodeFileText(bytes), L"\xD83D\xDE00" + bad + bad + L"z");
}

TEST(textDecoding, utf8SequencesOfEveryLength)
{
    std::string bytes = bytesOf({0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9, 0xE3, 0x81, 0x82,
                                 0xF0, 0x9F, 0x98, 0x80, 'b'});
    EXPECT_EQ(decodeFileText(bytes), L"a\x00E9\x3042\xD83D\xDE00" L"b");
}

TEST(textDecoding, utf8DamageBecomesTheReplacementText)
{
    // A stray continuation byte and an invalid lead byte.
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 0x80, 'a', 0xFF})), bad + L"a" + bad);
    // Cut inside a three-byte sequence: each remaining byte is replaced.
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 'a', 0xE3, 0x81})), L"a" + bad + bad);
    // Four-byte forms beyond U+10FFFF have no UTF-16 form at all.
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 0xF4, 0x90, 0x80, 0x80, 'x'})), bad + L"x");
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 0xF7, 0xBF, 0xBF, 0xBF, 'x'})), bad + L"x");
    // The highest code point still decodes.
    EXPECT_EQ(decodeFileText(bytesOf({0xEF, 0xBB, 0xBF, 0xF4, 0x8F, 0xBF, 0xBF})), L"\xDBFF\xDFFF");
}

TEST(textDecoding, byteOrderMarkTest)
{
    EXPECT_TRUE(hasByteOrderMark(""));
    EXPECT_TRUE(hasByteOrderMark(bytesOf({0xEF, 0xBB, 0xBF, 'v'})));
    EXPECT_TRUE(hasByteOrderMark(bytesOf({0xFF, 0xFE, 'v', 0})));
    EXPECT_TRUE(hasByteOrderMark(bytesOf({0, 0, 0xFE, 0xFF})));
    EXPECT_FALSE(hasByteOrderMark("visible=1"));
    EXPECT_FALSE(hasByteOrderMark(bytesOf({0xEF, 0xBB})));
    EXPECT_FALSE(hasByteOrderMark(bytesOf({0, 0, 0xFE})));
}

TEST(trimControlChars, trimsBothEndsOnly)
{
    EXPECT_EQ(trimControlChars(std::wstring(L"\t\r\n key = a\tb \r\n")), L" key = a\tb ");
    EXPECT_EQ(trimControlChars(std::wstring(L"\r\n\x0085")), L"");
    EXPECT_EQ(trimControlChars(std::wstring(L"あ")), L"あ");
    EXPECT_EQ(trimControlChars(std::string("\x01value\r")), "value");
    // CP932 "◆" ends in the byte 0x9F: it is a trail byte, not a control character.
    EXPECT_EQ(trimControlChars(std::string("\x81\x9F\r\n")), "\x81\x9F");
}

TEST(textFileReader, missingFileFailsButEmptyFileIsGood)
{
    testTempFolder folder;
    textFileReader missing(folder.file(L"missing.txt"));
    EXPECT_TRUE(missing.fail());

    testTempFolder::writeBytes(folder.file(L"empty.txt"), "");
    textFileReader empty(folder.file(L"empty.txt"));
    EXPECT_TRUE(empty.good());
    EXPECT_EQ(readAll(empty), L"");

    std::string bytes;
    EXPECT_FALSE(readWholeFile(folder.file(L"missing.txt"), bytes));
    EXPECT_TRUE(readWholeFile(folder.file(L"empty.txt"), bytes));
}

TEST(textFileReader, everyNoncharacterFFFFIsReplacedInOnePass)
{
    // U+FFFF ends a wide stream here, so the reader replaces it; replacing each in place moved
    // the rest of the text every time, which took minutes for a file full of them.
    testTempFolder folder;
    std::string bytes = bytesOf({0xFF, 0xFE});
    for (int i = 0; i < 200000; ++i) bytes += i % 2 ? std::string("\xFF\xFF") : std::string("a\0", 2);
    testTempFolder::writeBytes(folder.file(L"f.txt"), bytes);
    const DWORD start = GetTickCount();
    textFileReader in(folder.file(L"f.txt"));
    EXPECT_LT(GetTickCount() - start, 5000u);
    std::wstring expected;
    for (int i = 0; i < 100000; ++i) expected += L"a" + bad;
    EXPECT_EQ(readAll(in), expected);
}

TEST(textFileReader, keepsLineEndsAsTheyAre)
{
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"a.txt"),
                               bytesOf({0xFF, 0xFE, 'a', 0, '\r', 0, '\n', 0, 'b', 0, '\n', 0}));
    textFileReader in(folder.file(L"a.txt"));
    std::wstring first, second;
    ASSERT_TRUE(std::getline(in, first));
    ASSERT_TRUE(std::getline(in, second));
    EXPECT_EQ(first, L"a\r");
    EXPECT_EQ(second, L"b");
    EXPECT_FALSE(std::getline(in, second));
}

namespace {

// Writes the text through a writer and answers the bytes on disk.
std::string written(const std::wstring& text)
{
    testTempFolder folder;
    {
        textFileWriter out(folder.file(L"out.txt"));
        out << text;
        out.save();
        if (!out.good()) return "<failed>";
    }
    return testTempFolder::readBytes(folder.file(L"out.txt"));
}

}  // namespace

TEST(textFileWriter, choosesTheShortestLosslessEncoding)
{
    // Survives CP932: no mark.
    EXPECT_EQ(written(L"ka=か"), bytesOf({'k', 'a', '=', 0x82, 0xA9}));
    // The yen sign would become a backslash by best fit: that is a loss, so UTF-8.
    EXPECT_EQ(written(L"abc\x00A5"), bytesOf({0xEF, 0xBB, 0xBF, 'a', 'b', 'c', 0xC2, 0xA5}));
    // Equal lengths: UTF-8 is not shorter, so UTF-16.
    EXPECT_EQ(written(L"a\x00A5"), bytesOf({0xFF, 0xFE, 'a', 0, 0xA5, 0}));
    // Mostly kana with one character CP932 lacks: UTF-16 is shorter than UTF-8.
    EXPECT_EQ(written(L"あい\x00E9"),
              bytesOf({0xFF, 0xFE, 0x42, 0x30, 0x44, 0x30, 0xE9, 0x00}));
    // An unpaired surrogate can't be UTF-8 without loss.
    EXPECT_EQ(written(L"ab\xD800"), bytesOf({0xFF, 0xFE, 'a', 0, 'b', 0, 0x00, 0xD8}));
}

TEST(textFileWriter, aTextStartingWithNulIsNotStoredAsTheUtf32Mark)
{
    // Little-endian would begin FF FE 00 00, which the reader takes for UTF-32: big-endian.
    EXPECT_EQ(written(std::wstring(L"\0あ\x00E9", 3)), bytesOf({0xFE, 0xFF, 0, 0, 0x30, 0x42, 0, 0xE9}));
    // Mostly ASCII: UTF-8 as before, whose mark can't be mistaken.
    EXPECT_EQ(written(std::wstring(L"\0ab\x00E9", 4)), bytesOf({0xEF, 0xBB, 0xBF, 0, 'a', 'b', 0xC3, 0xA9}));
    // CP932 when it survives.
    EXPECT_EQ(written(std::wstring(L"\0a", 2)), std::string("\0a", 2));
}

namespace {

// Texts drawn from the characters that trouble encoders: NUL, line ends, lone and paired
// surrogates, the noncharacters, the mark itself, characters CP932 lacks or maps to bytes that
// look like marks, and ordinary ASCII, kana and kanji.
std::wstring randomText(unsigned& seed)
{
    static const wchar_t pool[] = {0, '\r', '\n', 'a', 'Z', ' ', '\t', 0x7F, 0x80, 0xA5, 0xE9, 0xFE, 0xFF,
                                   0x3042, 0x30AB, 0x6F22, 0xAC00, 0xD800, 0xDBFF, 0xDC00, 0xDFFF,
                                   0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3, 0xFEFF, 0xFFFE, 0xFFFF, 0xFF61};
    auto next = [&seed](unsigned below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % below;
    };
    std::wstring text;
    for (unsigned n = 1 + next(12); n > 0; --n) {
        text += next(5) == 0 ? static_cast<wchar_t>(next(0x10000)) : pool[next(sizeof pool / sizeof pool[0])];
    }
    return text;
}

// What the reader must give back: the text with every line end made CR LF.
std::wstring withCrLfEnds(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

}  // namespace

TEST(textFileWriter, everyStoredTextReadsBackAsItWasWritten)
{
    unsigned seed = 13;
    for (int i = 0; i < 20000; ++i) {
        const std::wstring text = randomText(seed);
        std::string bytes;
        ASSERT_TRUE(encodeFileText(text, bytes));
        ASSERT_EQ(decodeFileText(bytes), withCrLfEnds(text)) << testing::PrintToString(text);
    }

    // Through real files and the reader's stream. U+FFFF is the end-of-file value of a wide
    // stream here: the writer's stream may drop it on insertion, and the reader stands the
    // replacement text in its place. Whatever text the writer holds comes back.
    testTempFolder folder;
    for (int i = 0; i < 200; ++i) {
        const std::wstring path = folder.file(L"t" + std::to_wstring(i) + L".txt");
        std::wstring held;
        {
            textFileWriter out(path);
            out << randomText(seed);
            held = out.str();
            ASSERT_TRUE(out.save().good());
        }
        std::wstring expected;
        for (wchar_t ch : withCrLfEnds(held)) {
            if (ch == L'\xFFFF')
                expected += bad;
            else
                expected += ch;
        }
        textFileReader in(path);
        ASSERT_EQ(readAll(in), expected) << testing::PrintToString(held);
    }
}

TEST(textFileWriter, everyLineEndBecomesCrLf)
{
    EXPECT_EQ(written(L"a\nb\r\nc\r"), "a\r\nb\r\nc\r");
}

TEST(textFileWriter, writtenTextReadsBackUnchanged)
{
    testTempFolder folder;
    const std::wstring text = L"title=\x00E9\x3042\xD83D\xDE00\r\nline 2\r\n";
    {
        textFileWriter out(folder.file(L"r.txt"));
        out << text;
    }
    textFileReader in(folder.file(L"r.txt"));
    EXPECT_EQ(readAll(in), text);
}

TEST(textFileWriter, emptyTextWritesNothingAndFails)
{
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"old.txt"), "old");
    textFileWriter out(folder.file(L"old.txt"));
    EXPECT_TRUE(out.save().bad());
    EXPECT_EQ(testTempFolder::readBytes(folder.file(L"old.txt")), "old");
}

TEST(textFileWriter, destructorSavesOnceAndLaterSavesDoNotWriteAgain)
{
    testTempFolder folder;
    {
        textFileWriter out(folder.file(L"a.txt"));
        out << L"first";
    }
    EXPECT_EQ(testTempFolder::readBytes(folder.file(L"a.txt")), "first");

    textFileWriter out(folder.file(L"b.txt"));
    out << L"one";
    EXPECT_TRUE(out.save().good());
    out << L" two";
    EXPECT_TRUE(out.save().good());
    EXPECT_TRUE(out.saved());
    EXPECT_EQ(testTempFolder::readBytes(folder.file(L"b.txt")), "one");
}

TEST(textFileWriter, discardedOrAbandonedTextNeverReachesTheFile)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"settings.ini");
    testTempFolder::writeBytes(path, "kept");
    {
        textFileWriter out(path);
        out << L"half";
        out.discard();
    }
    EXPECT_EQ(testTempFolder::readBytes(path), "kept");

    try {
        textFileWriter out(path);
        out << L"half";
        throw std::runtime_error("filler failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(testTempFolder::readBytes(path), "kept");
    EXPECT_EQ(testTempFolder::listing(folder.path()), L"settings.ini");
}

TEST(textFileWriter, failedReplaceKeepsTheOldFileAndLeavesNoTemporary)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"busy.txt");
    testTempFolder::writeBytes(path, "old");
    // Held open without delete sharing, the file can't be replaced.
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    textFileWriter out(path);
    out << L"new";
    EXPECT_TRUE(out.save().bad());
    CloseHandle(holder);
    EXPECT_EQ(testTempFolder::readBytes(path), "old");
    EXPECT_EQ(testTempFolder::listing(folder.path()), L"busy.txt");

    // A folder that does not exist is a failure too.
    EXPECT_FALSE(writeWholeFile(folder.file(L"no\\such.txt"), "x", 1));
}

TEST(writeWholeFile, replacesTheWholeFile)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"w.bin");
    testTempFolder::writeBytes(path, "a much longer old content");
    ASSERT_TRUE(writeWholeFile(path, "new\0!", 5));
    EXPECT_EQ(testTempFolder::readBytes(path), std::string("new\0!", 5));
    EXPECT_EQ(readWholeFile(path), std::string("new\0!", 5));
    EXPECT_EQ(testTempFolder::listing(folder.path()), L"w.bin");
}

// Where a file can't be replaced in one step (Windows 98/Me) the old file goes first. A rename
// that then fails must not lose the new content as well: the temporary file stays.
TEST(replaceByRemovingFirst, keepsTheNewContentWhenTheRenameFailsAfterTheRemoval)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"settings.ini");
    const std::wstring temp = path + L".tmp";

    testTempFolder::writeBytes(path, "old");
    testTempFolder::writeBytes(temp, "new");
    EXPECT_TRUE(replaceByRemovingFirst(temp, path));
    EXPECT_EQ(testTempFolder::readBytes(path), "new");
    EXPECT_EQ(testTempFolder::listing(folder.path()), L"settings.ini");

    // Held open with delete sharing, the old file is removed only when let go: the name stays
    // taken and the rename fails.
    testTempFolder::writeBytes(temp, "newer");
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(replaceByRemovingFirst(temp, path));
    CloseHandle(holder);
    EXPECT_FALSE(testTempFolder::exists(path));
    ASSERT_TRUE(testTempFolder::exists(temp));
    EXPECT_EQ(testTempFolder::readBytes(temp), "newer");

    // An old file that can't be removed stays whole, and the temporary file goes.
    testTempFolder::writeBytes(path, "old");
    holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(replaceByRemovingFirst(temp, path));
    CloseHandle(holder);
    EXPECT_EQ(testTempFolder::readBytes(path), "old");
    EXPECT_FALSE(testTempFolder::exists(temp));
}
