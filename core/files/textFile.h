// Reading and writing the program's text files. A file is read whole and decoded by its
// byte-order mark (UTF-32, UTF-16, UTF-8) or else as CP932; text is written in the shortest
// encoding that keeps every character: CP932, else UTF-8 with a mark, else UTF-16LE with a mark
// (big-endian for a text that begins with U+0000, which little-endian would store as FF FE 00 00,
// the UTF-32 mark). Whatever the writer stores, the reader decodes to the same text.
#pragma once

#include "core/platform/tstring.h"

#include <sstream>
#include <string>

// Stands in the decoded text wherever input can't be decoded.
extern const wchar_t unsupportedCharText[];

// The whole file as bytes. False when the file can't be opened or read whole; an empty file
// is a success with no bytes.
bool readWholeFile(const tstring& path, std::string& bytes);
// The whole file as bytes; a file that can't be read gives no bytes, like an empty one.
std::string readWholeFile(const tstring& path);
// Replaces the file with exactly these bytes. The bytes go to a temporary file beside the
// target first, which then takes the target's place, so a failed write leaves the old file
// as it was (or, on Windows 98/Me, the new content in the temporary file: see below). True only
// when the file now holds all the bytes.
bool writeWholeFile(const tstring& path, const char* bytes, size_t count);
// Puts a finished temporary file in the target's place where the system can't replace a file in
// one step (Windows 98/Me): the old file is removed first, then the temporary file renamed. When
// the old file can't be removed, it stays and the temporary file goes; when the rename fails after
// the removal, the temporary file stays as the only copy of the new content. True when the target
// now holds the new content.
bool replaceByRemovingFirst(const tstring& temp, const tstring& path);

// True when the bytes begin with a UTF-32, UTF-16 or UTF-8 byte-order mark, and for no bytes.
bool hasByteOrderMark(const std::string& bytes);

// The text without its leading and trailing control characters; those inside stay.
// Narrow text is CP932, so only ASCII control bytes count there (a trail byte is never cut).
std::string trimControlChars(const std::string& text);
std::wstring trimControlChars(const std::wstring& text);

// The text of a file's bytes, decoded as the reader does (the mark itself is not text).
std::wstring decodeFileText(const std::string& bytes);
// The bytes the writer stores for a text: line ends made CR LF, then the shortest lossless
// encoding. False for an empty text or a failed conversion.
bool encodeFileText(const std::wstring& text, std::string& bytes);

// A wide input stream over the decoded text of one file. A file that can't be read sets
// failbit at once, so the caller can tell it from an empty file (which stays good).
class textFileReader : public std::wistringstream {
public:
    explicit textFileReader(const tstring& path);
};

// A wide output stream whose text is written to its file by save(), or by the destructor
// when it was neither saved nor discarded. A writer destroyed while an exception unwinds the
// stack writes nothing: the text of a caller that failed half-way is never stored.
class textFileWriter : public std::wostringstream {
public:
    explicit textFileWriter(const tstring& path);
    ~textFileWriter() override;
    textFileWriter(const textFileWriter&) = delete;
    textFileWriter& operator=(const textFileWriter&) = delete;

    // Writes the text now. Failure (nothing to write, or the file could not be replaced) sets
    // badbit and leaves any old file untouched. Once saved, later calls write nothing more.
    textFileWriter& save();
    // Forgets the text: nothing is written, now or at destruction.
    void discard();
    bool saved() const { return m_saved; }
    const tstring& path() const { return m_path; }

private:
    tstring m_path;
    bool m_saved = false;
    bool m_discarded = false;
    int m_uncaughtAtStart;
};
