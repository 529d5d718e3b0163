#pragma once
// Colours and fonts as the windows describe them, and their Qt equivalents.
//
// A TColor is a 32-bit value $00BBGGRR for a plain colour; a high byte of $FF names a
// system colour by the index in the low byte (clWindowText = $FF000008). System colours
// resolve through the application's QPalette where Qt has a matching role, so the
// windows follow the desktop theme the way they would follow the Windows scheme.
//
// A TFont keeps the face name the windows were designed with ("MS Sans Serif", "細明體");
// toQFont() turns it into a QFont whose family list leads to installed faces (the
// project's fontconfig aliases and QFont substitutions map the Windows names, see
// installFontAliases()).

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

namespace rpt {

using TColor = quint32;

// ---- system colours ($FF0000nn) -------------------------------------------------------
inline constexpr TColor clSystemColor = 0xFF000000u;
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clInactiveCaption = clSystemColor | 3;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clCaptionText = clSystemColor | 9;
inline constexpr TColor clActiveBorder = clSystemColor | 10;
inline constexpr TColor clInactiveBorder = clSystemColor | 11;
inline constexpr TColor clAppWorkSpace = clSystemColor | 12;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInactiveCaptionText = clSystemColor | 19;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;
inline constexpr TColor clHotLight = clSystemColor | 26;
inline constexpr TColor clGradientActiveCaption = clSystemColor | 27;
inline constexpr TColor clGradientInactiveCaption = clSystemColor | 28;
inline constexpr TColor clMenuHighlight = clSystemColor | 29;
inline constexpr TColor clMenuBar = clSystemColor | 30;

// ---- plain colours ($00BBGGRR) ---------------------------------------------------------
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clLtGray = 0xC0C0C0;
inline constexpr TColor clDkGray = 0x808080;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clMoneyGreen = 0xC0DCC0;
inline constexpr TColor clSkyBlue = 0xF0CAA6;
inline constexpr TColor clCream = 0xF0FBFF;
inline constexpr TColor clMedGray = 0xA4A0A0;
// Not colours: "draw nothing" and "use the control's default".
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

constexpr bool isSystemColor(TColor c) { return (c & 0xFF000000u) == clSystemColor; }
constexpr int systemColorIndex(TColor c) { return int(c & 0xFF); }
constexpr TColor RGBColor(int r, int g, int b)
{
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}
constexpr int GetRValue(TColor c) { return int(c & 0xFF); }
constexpr int GetGValue(TColor c) { return int((c >> 8) & 0xFF); }
constexpr int GetBValue(TColor c) { return int((c >> 16) & 0xFF); }

// The palette role a system colour follows, when Qt has one. Colours without a role
// (caption strips, scroll bar, app workspace...) resolve to the classic Windows values.
bool systemColorRole(TColor c, QPalette::ColorGroup *group, QPalette::ColorRole *role);

// TColor -> QColor. System colours come from `palette` (the application's palette when
// none is given). clNone gives a transparent colour, clDefault the window colour.
QColor toQColor(TColor c, const QPalette *palette = nullptr);
// QColor -> plain TColor ($00BBGGRR); alpha is dropped.
TColor fromQColor(const QColor &c);
// Identifier or hex form as a form description writes it: "clWindowText", "$0080FFFF".
QString colorToString(TColor c);
// Parses "clAqua", "$00FFFF00", "8454143" or "-16777201"; false when not a colour.
bool stringToColor(const QString &s, TColor *out);

// ---- fonts -----------------------------------------------------------------------------
enum TFontCharset : quint8 {
    ANSI_CHARSET = 0,
    DEFAULT_CHARSET = 1,
    SYMBOL_CHARSET = 2,
    SHIFTJIS_CHARSET = 128,
    HANGEUL_CHARSET = 129,
    GB2312_CHARSET = 134,
    CHINESEBIG5_CHARSET = 136,
    OEM_CHARSET = 255,
};

enum TFontStyle : quint8 { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = quint8;

// Screen resolution the windows were laid out for.
inline constexpr int DesignPixelsPerInch = 96;

// The CJK face that is always among the fallbacks, so Big5 text never shows as boxes.
inline const char *const CjkFallbackFace = "AR PL UMing TW";

struct TFont {
    QString Name = QStringLiteral("MS Sans Serif");
    // Negative: character height in pixels (em size, no internal leading); positive: cell
    // height including the leading. The class library's default is -11 (8 pt at 96 ppi).
    int Height = -11;
    TFontCharset Charset = DEFAULT_CHARSET;
    TColor Color = clWindowText;
    TFontStyles Style = 0;

    // Point size at 96 ppi, as the designer shows it (rounded like the class library).
    int Size() const;
    void SetSize(int points);
    // Character height in pixels, whatever the sign of Height.
    int PixelHeight() const;

    bool operator==(const TFont &o) const = default;

    QFont toQFont() const;
    QColor qColor(const QPalette *palette = nullptr) const { return toQColor(Color, palette); }
    static TFont fromQFont(const QFont &f);

    // Convenience constructors for the faces the windows use.
    static TFont msSansSerif(int height = -11) { return TFont{QStringLiteral("MS Sans Serif"), height}; }
    static TFont mingLiU(int height = -13)
    {
        return TFont{QStringLiteral("細明體"), height, CHINESEBIG5_CHARSET};
    }
};

// Installed faces that stand in for a Windows face name, best first. Always ends with the
// CJK fallback face.
QStringList fontSubstitutes(const QString &windowsFace);

// Registers the Windows face names with fontconfig (the project's alias file) and with
// QFont's substitution table. Call once, before the first font is resolved — TApplication
// does so; tests that build widgets without it may call it themselves. Returns false
// when the alias file could not be loaded into fontconfig (QFont substitutions still apply).
bool installFontAliases();
// Path of the alias file that installFontAliases() handed to fontconfig (empty if none).
QString fontAliasFile();

// ---- drawing helpers -------------------------------------------------------------------
// Picture with every pixel of colour `key` made transparent (the class library's
// transparent glyph look: a white background is not drawn).
QPixmap transparentGlyph(const QImage &image, QRgb key = qRgb(255, 255, 255));
// The class library's Frame3D: draws `width` rings, top/left in one colour and
// bottom/right in the other, and shrinks `rect` by what it drew.
void Frame3D(QPainter &p, QRect &rect, TColor topLeft, TColor bottomRight, int width);
// The dotted focus frame of the platform.
void DrawFocusRect(QPainter &p, const QRect &rect);

} // namespace rpt
