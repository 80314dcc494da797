// The faces the resources and the system's dialogs ask for draw both Japanese and Latin text: on a
// desktop where a face name finds no such font, every label turns into empty squares.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct selectedFont {
    explicit selectedFont(const wchar_t* face, BYTE charset = DEFAULT_CHARSET)
        : dc(GetDC(nullptr)),
          font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, charset, 0, 0, 0, 0, face)),
          previous(SelectObject(dc, font)) {}
    ~selectedFont() {
        SelectObject(dc, previous);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
    }
    // The characters of the text the font has no glyph for.
    std::wstring missing(const std::wstring& text) const {
        std::wstring result;
        for (wchar_t ch : text) {
            WORD index = 0;
            if (GetGlyphIndicesW(dc, &ch, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR || index == 0xFFFF)
                result += ch;
        }
        return result;
    }
    std::wstring face() const {
        wchar_t name[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, name);
        return name;
    }
    HDC dc;
    HFONT font;
    HGDIOBJ previous;
};

TEST(windowFonts, JapaneseAndDialogFacesDrawKanaKanjiAndLatinText) {
    const std::wstring sample = L"Tavolin 1.3 あいうえお アイウエオ 動作記録 配列表示 ¥";
    for (const wchar_t* face : {L"MS UI Gothic", L"ＭＳ Ｐゴシック", L"ＭＳ ゴシック", L"MS Shell Dlg", L"Meiryo", L"System"}) {
        selectedFont font(face);
        EXPECT_EQ(L"", font.missing(sample)) << "face " << testing::PrintToString(std::wstring(face))
                                            << " drawn with " << testing::PrintToString(font.face());
    }
}

TEST(windowFonts, MarlettDrawsTheCaptionButtonsAndMenuMarks) {
    selectedFont font(L"Marlett", SYMBOL_CHARSET);
    EXPECT_EQ(L"Marlett", font.face());
}

}  // namespace
