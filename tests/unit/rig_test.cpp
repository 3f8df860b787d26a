// The rig the tests run in: what the program's texts depend on.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

TEST(Rig, AnsiCodePageIsShiftJis)
{
    // The program hands every text to the platform in code page 932.
    EXPECT_EQ(932u, GetACP());
}

TEST(Rig, JapaneseTextSurvivesTheAnsiRoundTrip)
{
    // "表示" has a trail byte of 0x5C: a wrong code page turns it into a path separator.
    const char text[] = "表示";
    wchar_t wide[8];
    ASSERT_EQ(3, MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8));
    EXPECT_EQ(0x8868, wide[0]);
    EXPECT_EQ(0x793A, wide[1]);
}

TEST(Rig, DialogFontHasJapaneseGlyphs)
{
    // Without Japanese fonts every character of the dialog would be a box.
    HDC dc = GetDC(NULL);
    LOGFONTA lf = {};
    lf.lfHeight = -12;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynA(lf.lfFaceName, "ＭＳ Ｐゴシック", LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    // A font without Japanese glyphs marks 「設定」 as missing, as every
    // font does U+FFFF, which is no character.
    const wchar_t text[] = {0x8A2D, 0x5B9A, 0x3042, 0xFFFF};
    WORD glyphs[4] = {0, 0, 0, 0};
    DWORD converted = GetGlyphIndicesW(dc, text, 4, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof(face), face);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    ASSERT_EQ(4u, converted);
    EXPECT_EQ(0xFFFF, glyphs[3]);
    for (int i = 0; i < 3; i++)
        EXPECT_NE(0xFFFF, glyphs[i]) << "no glyph for character " << i << " in " << face;
}
