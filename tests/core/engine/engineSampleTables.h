// The definition tables the soak test and the benchmark type through: the shipped data files
// when they and the output-conversion reader are part of the build, else stand-ins of the same
// shape.
#pragma once

#include "engineTestHost.h"

namespace enginetest {

inline std::wstring dataPath(const wchar_t* name) {
    return std::wstring(TVN_SOURCE_DIR) + L"\\data\\" + name;
}

// The shipped files, when they and the output-conversion reader are part of the build.
inline bool loadShippedTables(testEngine& e) {
#ifdef TVN_ENGINE_TEST_SUBSTITUTION
    return e.loadLayoutFile(1, dataPath(L"\x30A2\x30A4\x30A6\x30A8\x30AA\x914D\x5217Tavolin\x4ED5\x69D8"
                                        L"\x4E8C\x7248.tvn_kana")) &&
           e.loadLayoutFile(2, dataPath(L"TavolinQWERTY(JIS).tvn_eisu")) &&
           e.loadLayoutFile(4, dataPath(L"\x5236\x5FA1\x4E00\x7248.tvn_kinou")) &&
           e.loadLayoutFile(8, dataPath(L"NumLock\x4E00\x7248.tvn_numlock")) &&
           e.loadOutputFile(1, dataPath(L"\x30ED\x30FC\x30DE\x5B57\x5316(\x3041\x306Fxa\x307B\x304B)"
                                        L".tvn_o_roumazi")) &&
           e.loadOutputFile(2, dataPath(L"\x304B\x306A\x5165\x529B\x5316.tvn_o_kana")) &&
           !e.layouts[1].entries.empty();
#else
    (void)e;
    return false;
#endif
}

// Stand-in tables of the same shape: thumb-key chords with a hold key, a two-stroke prefix, a
// function-key layer and a NumLock layer.
inline bool loadOwnTables(testEngine& e) {
    e.layouts.clear();
    bool loaded = true;
    loaded = loaded && (e.loadLayout(1, L"visible=1\nSemiShift=L\nMultiDownHold=R\nStrokeMode=0\n"
        L"qwert\t\x305F$\x3061$\x3064$\x3066$\x3068\n"
        L"asdfg\t\x3042$\x3044$\x3046$\x3048$\x304A\n"
        L"hjkl;\t\x304B$\x304D$\x304F$\x3051$\x3053\n"
        L"zxcvb\t\x3055$\x3057$\x3059$\x305B$\x305D\n"
        L"=L\nqwert\t\x3084$\x3086$\x3088$\x308F$\x3092\n"
        L"zxcvb\t\x3083$\x3085$\x3087$\x3063$\x308E\nyu\t\x3093$\x30FC\n=\n"
        L"=R\nhjkl;\t\x304C$\x304E$\x3050$\x3052$\x3054\nqwert\t\x3060$\x3062$\x3065$\x3067$\x3069\n=\n"
        L"StrokeMode=2\n=@\nd\t\x30F4\n[\t\x300E\n=\nStrokeMode=0\n"));
    loaded = loaded && (e.loadLayout(2, L"qwertyuiop\tq$w$e$r$t$y$u$i$o$p\nasdfg\ta$s$d$f$g\n"));
    loaded = loaded && (e.loadLayout(4, L"X\tFI\n=X\ni\tFI\na\tFX\nk\tK\nc\tC\ng\tFC%\n=\n"));
    loaded = loaded && (e.loadLayout(8, L"789\tF7$F8$F9\nuio\tF4$F5$F6\n"));
    const wchar_t* kana = L"\x305F\x3061\x3064\x3066\x3068\x3042\x3044\x3046\x3048\x304A\x304B\x304D"
                          L"\x304F\x3051\x3053\x3055\x3057\x3059\x305B\x305D\x3084\x3086\x3088\x308F"
                          L"\x3092\x3083\x3085\x3087\x3063\x308E\x3093\x30FC\x304C\x304E\x3050\x3052"
                          L"\x3054\x3060\x3062\x3065\x3067\x3069";
    const char* romaji[] = {"ta", "ti", "tu", "te", "to", "a",  "i",  "u",   "e",   "o",   "ka",
                            "ki", "ku", "ke", "ko", "sa", "si", "su", "se",  "so",  "ya",  "yu",
                            "yo", "wa", "wo", "xya", "xyu", "xyo", "xtu", "xwa", "nn", "-",
                            "ga", "gi", "gu", "ge", "go", "da", "di", "du",  "de",  "do"};
    for (int i = 0; kana[i]; ++i) e.defineOutput(1, kana[i], romaji[i]);
    return loaded;
}

}  // namespace enginetest
